// CUpdateModule: construction, setters and getters. The run lives in
// UpdateModuleRun.cpp, the type file in UpdateModuleTypeFile.cpp.
#include "updatemodule/UpdateModule.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/FileUpdater.h"
#include "updatemodule/LoginFrontClient.h"

CUpdaterBase g_UpdateLogger;

namespace {

template <size_t N>
void CopyField(char (&dst)[N], const char* src) {
    std::snprintf(dst, N, "%s", src ? src : "");
}

// Version outputs of the getters: 20-character buffers like every version
// field of the engine.
void CopyVersion(char* dst, const char* src) {
    std::snprintf(dst, 20, "%s", src);
}

}  // namespace

CUpdateModule::CUpdateModule() {
    LoadTypeFile();
    CUpdaterBase::SetUserLogName("USERLOGFILE");
    UserLog("start Userlog Write\n");
}

CUpdateModule::~CUpdateModule() {
    m_pMutex.reset();
    m_hThread.reset();
    UserLog("End Userlog \n\n");
}

CUpdateModule& CUpdateModule::operator=(const CUpdateModule& other) {
    if (this == &other) {
        return *this;
    }
    m_hThread = other.m_hThread;
    m_dwThreadId = other.m_dwThreadId;
    std::memcpy(m_szParentProgramName, other.m_szParentProgramName, sizeof(m_szParentProgramName));
    m_nClosed.store(other.m_nClosed.load(std::memory_order_relaxed), std::memory_order_relaxed);
    m_hResource = other.m_hResource;
    m_eServiceType = other.m_eServiceType;
    m_nCheckAuthKey = other.m_nCheckAuthKey;
    std::memcpy(m_szMapGameName, other.m_szMapGameName, sizeof(m_szMapGameName));
    m_hTargetWnd = other.m_hTargetWnd;
    m_nKBT_USA = other.m_nKBT_USA;
    return *this;
}

void CUpdateModule::SetConnectInfo(const char* address, int port, const char* user,
                                   const char* password, const char* servicePath,
                                   const char* testPath, unsigned char launcherType,
                                   bool useLoginFront, int useFtp, eSERVICE_TYPE serviceType) {
    if (!useLoginFront) {
        g_LoginFront.SetLoginFront(0);
    }
    m_eServiceType = serviceType;
    g_FileUpdater.SetConnectInfo(address, port, user, password, servicePath, testPath, launcherType,
                                 useFtp);
}

void CUpdateModule::SetTransferSettings(const PatchServerRoot& first,
                                        std::vector<PatchServerRoot> mirrors,
                                        const TransferOptions& options) {
    g_FileUpdater.SetTransferOptions(options);
    if (first.protocol == TransferProtocol::HTTPS)
        g_FileUpdater.SetConnectRoot(first, g_FileUpdater.RootLauncherType());
    g_FileUpdater.SetMirrorRoots(std::move(mirrors));
}

void CUpdateModule::SetCallBack(WindowHandle window, UPDATE_CALLBACK callback) {
    CUpdaterBase::SetCallBack(window, callback);
    if (CProtocolUpdater* protocol = g_FileUpdater.GetProtocol()) {
        protocol->SetCallBack(window, callback);
    }
}

void CUpdateModule::SetUpdatePath(const char* directory) {
    g_FileUpdater.SetUpdatePath(directory);
}

void CUpdateModule::SetLauncherVersion(const char* version) {
    if (version == nullptr) {
        return;
    }
    if (version[0] != '\0') {
        g_FileUpdater.SetLauncherVersion(version);
        g_LoginFront.SetLauncherVersion(version);
    }
    UserLog("Luancher version  Write %s \n", version);
}

void CUpdateModule::SetUpdateProgram(const char* name) {
    CUpdaterBase::SetProgramName(name);
}

void CUpdateModule::SetMapGameName(const char* name) {
    CopyField(m_szMapGameName, name);
}

void CUpdateModule::SetParentProgamName(const char* name) {
    if (name != nullptr && name[0] != '\0') {
        CopyField(m_szParentProgramName, name);
    }
}

void CUpdateModule::SetResourceHandle(plat::ResourceHandle module) {
    m_hResource = module;
}

void CUpdateModule::SetUpdateFlag(int value) {
    m_nClosed.store(value, std::memory_order_relaxed);
}

void CUpdateModule::SetFullVersionDownload(int allow) {
    g_FileUpdater.SetFullVersionDownload(allow);
}

void CUpdateModule::SetUpdateManualVersion(const char* gameDirectory, const char* archiveBaseName,
                                           const char* hashText, int fileCount, double archiveSize,
                                           double unpackedSize) {
    g_FileUpdater.SetUpdateManualVersion(gameDirectory, archiveBaseName, hashText, fileCount,
                                         archiveSize, unpackedSize);
}

void CUpdateModule::SetKBT_USA(int on) {
    m_nKBT_USA = on;
}

void CUpdateModule::SetSaveLog() {
    g_UpdateLogger.EnableSaveLog(0);
}

void CUpdateModule::SetSavePatchLog() {
    g_UpdateLogger.EnableSavePatchLog();
}

const char* CUpdateModule::GetLibVersion() {
    return "1.0.0.5";
}

eSERVICE_TYPE CUpdateModule::GetServerType() {
    return m_eServiceType;
}

WindowHandle CUpdateModule::GetTargetHandle() {
    return m_hTargetWnd;
}

int CUpdateModule::IsCheckAuthKey() {
    return m_nCheckAuthKey;
}

char* CUpdateModule::GetMapGameName() {
    return m_szMapGameName;
}

int CUpdateModule::IsClosedThread() {
    return m_nClosed.load(std::memory_order_relaxed);
}

const char* CUpdateModule::GetLastErrorMsg() {
    return CUpdaterBase::GetLastErrorMessage();
}

void CUpdateModule::GetMajorUpdateVersion(char* local, char* latest) {
    if (local != nullptr) {
        const char* v = g_FileUpdater.LocalVersion();
        CopyVersion(local, v[0] != '\0' ? v : "Unknown");
    }
    if (latest != nullptr) {
        const char* v = g_FileUpdater.TargetVersion();
        CopyVersion(latest, v[0] != '\0' ? v : g_FileUpdater.LatestVersion());
    }
}

void CUpdateModule::GetMinorUpdateVersion(char* local, char* latest) {
    if (local != nullptr) {
        const char* v = g_FileUpdater.LocalMinorVersion();
        CopyVersion(local, v[0] != '\0' ? v : "Unknown");
    }
    if (latest != nullptr) {
        const char* v = g_FileUpdater.NewMinorVersion();
        CopyVersion(latest, v[0] != '\0' ? v : g_FileUpdater.LatestVersion());
    }
}

void CUpdateModule::SaveUpdateLog(const char* format, ...) {
    try {
        char text[2048];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        g_UpdateLogger.UpdateLog("%s", text);
    } catch (...) {
        // A diagnostic line must never take the host down.
    }
}
