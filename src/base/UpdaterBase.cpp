// CUpdaterBase: construction, class-wide state, the [SETUP] logging keys and
// the scrambled launcher type file. Logs live in UpdaterBaseLog.cpp, the
// last-error record in UpdaterBaseError.cpp.
#include "base/UpdaterBase.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Profile.h"

namespace {

void CopyText(char* dst, size_t size, const char* src) {
    if (size == 0) {
        return;
    }
    std::snprintf(dst, size, "%s", src ? src : "");
}

}  // namespace

int CUpdaterBase::s_nSendLog = 0;
int CUpdaterBase::s_nSaveLog = 0;
int CUpdaterBase::s_nSavePatchLog = 0;
char CUpdaterBase::s_szMailServer[100] = "";
char CUpdaterBase::s_szMailUser[100] = "";
char CUpdaterBase::s_szMailPass[100] = "";
char CUpdaterBase::s_szMailAddress[100] = "";
char CUpdaterBase::s_szUserLogName[100] = "USERLOGFILE";
char CUpdaterBase::s_szLogDirectory[260] = "";
char CUpdaterBase::s_szProgramName[100] = "Update Program";
WindowHandle CUpdaterBase::s_hCallBackWnd = nullptr;
UPDATE_CALLBACK CUpdaterBase::s_pCallBack = nullptr;
int CUpdaterBase::s_nErrorKind = 0;
int CUpdaterBase::s_nErrorCode = 0;
int CUpdaterBase::s_nCustomErrorCode = 0;
char CUpdaterBase::s_szErrorMsg[260] = "";
UPDATE_CALLBACK_INFO CUpdaterBase::s_CallbackInfo = {};
ResponseTextHook CUpdaterBase::s_pResponseTextHook = nullptr;
std::atomic<int> CUpdaterBase::s_nMailStop{0};

void ScrambleBuffer(uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        data[i] ^= kScrambleKey[i % sizeof(kScrambleKey)];
    }
}

CUpdaterBase::CUpdaterBase() : m_nUserLogMode(0) {
    // The process's working directory is the host's and is never changed:
    // every path is formed from the game directory, the program's own.
    const std::string dir = plat::GetModuleDir();
    CopyText(m_szDefaultPath, sizeof(m_szDefaultPath), dir.c_str());
    CopyText(m_szUpdatePath, sizeof(m_szUpdatePath), plat::JoinPath(dir, "Update").c_str());
    if (s_szLogDirectory[0] == '\0')
        CopyText(s_szLogDirectory, sizeof(s_szLogDirectory), dir.c_str());
    CopyText(m_szExeName, sizeof(m_szExeName), plat::GetModuleFileName().c_str());
    std::memcpy(m_byKey, kScrambleKey, sizeof(m_byKey));
}

CUpdaterBase::~CUpdaterBase() = default;

void CUpdaterBase::SetBaseDirectory(const char* dir) {
    CopyText(s_szLogDirectory, sizeof(s_szLogDirectory), dir);
    CopyText(m_szDefaultPath, sizeof(m_szDefaultPath), dir);
    CopyText(m_szUpdatePath, sizeof(m_szUpdatePath), plat::JoinPath(dir, "Update").c_str());
}

int CUpdaterBase::LoadSettings(const char* iniPath) {
    s_nSaveLog = plat::GetPrivateProfileInt("SETUP", "SAVELOG", 0, iniPath);
    s_nSavePatchLog = plat::GetPrivateProfileInt("SETUP", "SAVEPATCHLOG", 0, iniPath);
    s_nSendLog = plat::GetPrivateProfileInt("SETUP", "SENDLOG", 0, iniPath);
    if (s_nSendLog == 0) {
        return 1;
    }
    // Empty values keep what an earlier load or the defaults gave.
    struct MailKey {
        const char* key;
        char* target;
    };
    const MailKey keys[] = {{"MAILIP", s_szMailServer},
                            {"MAILUSERNAME", s_szMailUser},
                            {"MAILPASS", s_szMailPass},
                            {"MAILADDRESS", s_szMailAddress}};
    for (const MailKey& k : keys) {
        char value[260];
        plat::GetPrivateProfileString("SETUP", k.key, "", value, sizeof(value), iniPath);
        if (value[0] != '\0') {
            CopyText(k.target, 100, value);
        }
    }
    return 1;
}

int CUpdaterBase::DecodeFile(const char* source, const char* target) {
    std::string data;
    if (!plat::ReadWholeFile(source, data) || data.empty()) {
        return 0;
    }
    ScrambleBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size());
    return plat::WriteWholeFile(target, data.data(), data.size()) ? 1 : 0;
}

void CUpdaterBase::GetPlainTypePath(char* out, size_t size) {
    // The plain copy holds the mail password, so it goes to the user's
    // private temporary directory and never to a shared one.
    CopyText(out, size, plat::JoinPath(plat::GetPrivateTempDir(), "type.uvf").c_str());
}

int CUpdaterBase::LoadLauncherType() {
    char source[260];
    char target[260];
    CopyText(source, sizeof(source), plat::JoinPath(m_szUpdatePath, "type.uvf").c_str());
    GetPlainTypePath(target, sizeof(target));
    if (DecodeFile(source, target)) {
        LoadSettings(target);
        return 1;
    }
    UpdateLog("LoadLauncherType DecodeData Fail [%s]=>[%s]\n", source, target);
    return 0;
}

void CUpdaterBase::SetCallBack(WindowHandle window, UPDATE_CALLBACK callback) {
    s_hCallBackWnd = window;
    s_pCallBack = callback;
}

void CUpdaterBase::SetProgramName(const char* name) {
    if (name != nullptr && name[0] != '\0') {
        CopyText(s_szProgramName, sizeof(s_szProgramName), name);
    }
}

void CUpdaterBase::SetUserLogName(const char* name) {
    CopyText(s_szUserLogName, sizeof(s_szUserLogName), name);
}

void CUpdaterBase::ResetSharedStateForTests() {
    s_nSendLog = s_nSaveLog = s_nSavePatchLog = 0;
    s_szMailServer[0] = s_szMailUser[0] = s_szMailPass[0] = s_szMailAddress[0] = '\0';
    CopyText(s_szUserLogName, sizeof(s_szUserLogName), "USERLOGFILE");
    CopyText(s_szProgramName, sizeof(s_szProgramName), "Update Program");
    s_hCallBackWnd = nullptr;
    s_pCallBack = nullptr;
    s_nErrorKind = s_nErrorCode = s_nCustomErrorCode = 0;
    s_szErrorMsg[0] = '\0';
    s_CallbackInfo = UPDATE_CALLBACK_INFO{};
    s_pResponseTextHook = nullptr;
    ClearMailStop();
}
