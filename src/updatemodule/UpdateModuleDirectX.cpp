// CUpdateModule: the DirectX check before the game starts.
#include <cstdio>
#include <initializer_list>

#include "engine/FileUpdater.h"
#include "engine/ResourceText.h"
#include "platform/Error.h"
#include "platform/Path.h"
#include "platform/Profile.h"
#include "updatemodule/DxVersion.h"
#include "updatemodule/UpdateModule.h"
#include "updatemodule/WinePrefix.h"

namespace {

// The text form's buffer: "%d.%d%c" of any version the table knows.
constexpr int kVersionText = 10;

void Give(char* dst, size_t size, const char* src) {
    if (dst != nullptr) {
        std::snprintf(dst, size, "%s", src);
    }
}

}  // namespace

std::string CUpdateModule::ConfiguredWinePrefix() const {
    char plain[260];
    CUpdaterBase::GetPlainTypePath(plain, sizeof(plain));
    char configured[260] = "";
    plat::GetPrivateProfileString(kWinePrefixSection, kWinePrefixKey, "", configured,
                                  sizeof(configured), plain);
    return configured[0] == '\0' ? std::string()
                                 : ChooseWinePrefix(configured, g_FileUpdater.m_szDefaultPath);
}

CUpdateModule::DxVerdict CUpdateModule::RunDXCheck(const char* required, char* installed,
                                                   std::string& winePrefix,
                                                   std::string& directory) {
    installed[0] = '\0';
    const std::string game =
        m_szParentProgramName[0] != '\0'
            ? plat::JoinPath(g_FileUpdater.m_szDefaultPath, m_szParentProgramName)
            : std::string();
    const DxSearchPlace place = LocateDxSearchPlace(
        ChooseWinePrefix(ConfiguredWinePrefix(), g_FileUpdater.m_szDefaultPath), game);
    winePrefix = place.prefix;
    directory = place.directory;
    if (place.prefixPending) {
        return DX_PREFIX_PENDING;
    }
    uint32_t packed = 0;
    char text[kVersionText] = "";
    if (!DetectDxVersion(place.directory.c_str(), &packed, text, sizeof(text))) {
        return DX_DETECT_FAILED;
    }
    if (packed == 0) {
        return DX_NOT_FOUND;
    }
    std::snprintf(installed, kVersionText, "%s", text);
    int same = 0;
    if (CFileUpdater::CompareVersion(installed, required, &same) == 1 || same != 0) {
        return DX_ACCEPTED;
    }
    return DX_TOO_OLD;
}

int CUpdateModule::CheckDXVersion(const char* required) {
    const char* need = required != nullptr ? required : "";
    auto refuse = [&](unsigned id, std::initializer_list<const char*> args, int customCode) {
        const std::string text = LoadFormattedString(m_hResource, id, kStringBuffer, args);
        g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, 0, text.c_str(), customCode);
        return 0;
    };
    try {
        char installed[kVersionText];
        std::string prefix, directory;
        const DxVerdict verdict = RunDXCheck(need, installed, prefix, directory);
        if (verdict == DX_PREFIX_PENDING) {
            UserLog(
                "CheckDXVersion Wine prefix %s is not set up yet: Wine sets it up with its "
                "own DirectX \n",
                prefix.c_str());
            return 1;
        }
        UserLog("CheckDXVersion DirectX %s in %s \n", installed, directory.c_str());
        switch (verdict) {
            case DX_ACCEPTED:
                return 1;
            case DX_DETECT_FAILED:
                return refuse(IDS_DX_DETECT, {need}, CUSTOM_ERROR_DX_DETECT);
            case DX_NOT_FOUND:
                return refuse(IDS_DX_NOT_FOUND, {need}, CUSTOM_ERROR_DX_NOT_FOUND);
            default:
                return refuse(IDS_DX_TOO_OLD, {installed, need}, CUSTOM_ERROR_DX_TOO_OLD);
        }
    } catch (...) {
        const uint32_t error = plat::GetLastError();
        char text[kStringBuffer] = "";
        plat::LoadResourceString(m_hResource, IDS_DX_EXCEPTION, text, sizeof(text));
        UserLog("%s \n", text);
        g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(error), nullptr,
                                       CUSTOM_ERROR_DX_EXCEPTION);
        return 0;
    }
}

int CUpdateModule::InspectDXVersion(const char* required, char* installed, char* winePrefix,
                                    char* directory) {
    char found[kVersionText] = "";
    std::string prefix, dir;
    DxVerdict verdict = DX_DETECT_FAILED;
    try {
        verdict = RunDXCheck(required != nullptr ? required : "", found, prefix, dir);
    } catch (...) {
        found[0] = '\0';
    }
    Give(installed, kVersionText, found);
    Give(winePrefix, 260, prefix.c_str());
    Give(directory, 260, dir.c_str());
    return verdict == DX_ACCEPTED || verdict == DX_PREFIX_PENDING ? 1 : 0;
}
