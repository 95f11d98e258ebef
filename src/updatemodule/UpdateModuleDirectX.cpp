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

template <size_t N>
void Keep(char (&dst)[N], const std::string& src) {
    std::snprintf(dst, N, "%s", src.c_str());
}

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

int CUpdateModule::CheckDXVersion(const char* required) {
    const char* need = required != nullptr ? required : "";
    auto refuse = [&](unsigned id, std::initializer_list<const char*> args, int customCode) {
        const std::string text = LoadFormattedString(m_hResource, id, kStringBuffer, args);
        g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, 0, text.c_str(), customCode);
        return 0;
    };
    try {
        m_szDXInstalled[0] = '\0';
        const std::string game =
            m_szParentProgramName[0] != '\0'
                ? plat::JoinPath(g_FileUpdater.m_szDefaultPath, m_szParentProgramName)
                : std::string();
        const DxSearchPlace place = LocateDxSearchPlace(
            ChooseWinePrefix(ConfiguredWinePrefix(), g_FileUpdater.m_szDefaultPath), game);
        Keep(m_szDXPrefix, place.prefix);
        Keep(m_szDXDirectory, place.directory);
        if (place.prefixPending) {
            UserLog(
                "CheckDXVersion Wine prefix %s is not set up yet: Wine sets it up with its "
                "own DirectX \n",
                place.prefix.c_str());
            return 1;
        }
        uint32_t packed = 0;
        char installed[kVersionText] = "";
        if (!DetectDxVersion(place.directory.c_str(), &packed, installed, sizeof(installed))) {
            return refuse(IDS_DX_DETECT, {need}, CUSTOM_ERROR_DX_DETECT);
        }
        UserLog("CheckDXVersion DirectX %s in %s \n", installed, place.directory.c_str());
        if (packed == 0) {
            return refuse(IDS_DX_NOT_FOUND, {need}, CUSTOM_ERROR_DX_NOT_FOUND);
        }
        Keep(m_szDXInstalled, installed);
        int same = 0;
        if (CFileUpdater::CompareVersion(installed, need, &same) == 1 || same != 0) {
            return 1;
        }
        return refuse(IDS_DX_TOO_OLD, {installed, need}, CUSTOM_ERROR_DX_TOO_OLD);
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

void CUpdateModule::GetDXCheckResult(char* installed, char* winePrefix, char* directory) {
    Give(installed, sizeof(m_szDXInstalled), m_szDXInstalled);
    Give(winePrefix, sizeof(m_szDXPrefix), m_szDXPrefix);
    Give(directory, sizeof(m_szDXDirectory), m_szDXDirectory);
}
