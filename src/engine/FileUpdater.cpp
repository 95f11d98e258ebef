// CFileUpdater: construction, settings, connection and the stop request.
#include "engine/FileUpdater.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Profile.h"

CFileUpdater g_FileUpdater;

CFileUpdater::CFileUpdater() {
    // The game directory is the program's own directory. The process's
    // working directory is the host's and is left alone: every path of the
    // engine is formed from the game directory.
    std::string dir = plat::GetModuleDir();
    SetBaseDirectory(dir.c_str());
    plat::CreateDirectoryChain(m_szUpdatePath);
}

CFileUpdater::~CFileUpdater() = default;

void CFileUpdater::CopyText(char* dst, size_t size, const char* src) {
    if (size == 0)
        return;
    snprintf(dst, size, "%s", src ? src : "");
}

namespace {

// Reads a [SETUP] string into a 260-character buffer; the target keeps its
// value when the file has none, so defaults survive a sparse type file.
void KeepWhenSet(const char* key, const char* iniPath, char (&target)[260]) {
    char value[260] = {};
    plat::GetPrivateProfileString("SETUP", key, "", value, sizeof(value), iniPath);
    if (value[0] != '\0')
        memcpy(target, value, sizeof(target));
}

}  // namespace

int CFileUpdater::LoadSettings(const char* iniPath) {
    char type[260] = {};
    plat::GetPrivateProfileString("SETUP", "TYPE", "s", type, sizeof(type), iniPath);
    if (m_pProtocol) {
        if (strcmp(type, "s") == 0)
            m_pProtocol->SetLauncherType(LAUNCHER_TYPE_SERVICE);
        else if (strcmp(type, "t") == 0)
            m_pProtocol->SetLauncherType(LAUNCHER_TYPE_TEST);
    }
    KeepWhenSet("SERVICEFTP", iniPath, m_szServiceFtp);
    KeepWhenSet("TESTFTP", iniPath, m_szTestFtp);
    KeepWhenSet("ADDRESS", iniPath, m_szServerAddress);
    int port = plat::GetPrivateProfileInt("SETUP", "PORT", 0, iniPath);
    if (port != 0)
        m_nServerPort = port;
    KeepWhenSet("USER", iniPath, m_szServerUser);
    KeepWhenSet("PASS", iniPath, m_szServerPass);
    return 1;
}

void CFileUpdater::SetConnectInfo(const char* address, int port, const char* user,
                                  const char* password, const char* servicePath,
                                  const char* testPath, unsigned char launcherType, int useFtp) {
    ReplaceProtocol(useFtp ? TransferProtocol::FTP : TransferProtocol::HTTP, address, port, user,
                    password, servicePath, testPath, launcherType);
}

void CFileUpdater::ReplaceProtocol(TransferProtocol protocol, const char* address, int port,
                                   const char* user, const char* password, const char* servicePath,
                                   const char* testPath, unsigned char launcherType) {
    // The old object goes first: it may hold a live connection.
    m_pProtocol.reset();
    m_pProtocol.reset(CreateProtocolUpdater(protocol));
    m_nRootLauncherType = launcherType;
    if (m_pProtocol) {
        m_pProtocol->SetConnectInfo(address, port, user, password, servicePath, testPath,
                                    launcherType);
        m_pProtocol->SetTransferOptions(m_transferOptions);
    }
}

void CFileUpdater::SetUpdatePath(const char* dir) {
    SetBaseDirectory(dir ? dir : "");
    plat::CreateDirectoryChain(m_szUpdatePath);
}

void CFileUpdater::SetLauncherVersion(const char* version) {
    CopyText(m_szLauncherVersion, sizeof(m_szLauncherVersion), version);
}

void CFileUpdater::SetLauncherPath(const char* path) {
    UpdateLog("CFileUpdater::SetLauncherPath(TCHAR* szProtocolPath) %s\n", path ? path : "");
    if (m_pProtocol)
        m_pProtocol->SetLauncherPath(path ? path : "");
}

void CFileUpdater::SetLauncherType(unsigned int type) {
    if (type == LAUNCHER_TYPE_SERVICE)
        UpdateLog("g_FileUpdater.SetLauncherType(LAUNCHER_TYPE_SERVICE) \n");
    else if (type == LAUNCHER_TYPE_TEST)
        UpdateLog("g_FileUpdater.SetLauncherType(LAUNCHER_TYPE_TEST) \n");
    if (m_pProtocol)
        m_pProtocol->SetLauncherType(type);
}

void CFileUpdater::SetManualVersion(const char* version) {
    CopyText(m_szManualVersion, sizeof(m_szManualVersion), version);
    if (m_szManualVersion[0] != '\0')
        m_nManualVersion = 1;
}

void CFileUpdater::SetUpdateManualVersion(const char* gameDirectory, const char* archiveBaseName,
                                          const char* hashText, int fileCount, double archiveSize,
                                          double unpackedSize) {
    CopyText(m_szManualArchive, sizeof(m_szManualArchive), archiveBaseName);
    CopyText(m_szManualHash, sizeof(m_szManualHash), hashText);
    m_nManualFileCount = fileCount;
    m_dManualArchiveSize = archiveSize;
    m_dManualUnpackedSize = unpackedSize;
    std::string update = plat::JoinPath(gameDirectory ? gameDirectory : "", "Update");
    CopyText(m_szUpdatePath, sizeof(m_szUpdatePath), update.c_str());
    plat::CreateDirectoryChain(m_szUpdatePath);
    m_bManualMode = true;
}

void CFileUpdater::ClearVersionRecords() {
    char* fields[] = {m_szTargetVersion,       m_szNewLauncherVersion, m_szNewMinorVersion,
                      m_szLatestVersion,       m_szPrimaryVersion,     m_szEndVersion,
                      m_szLocalVersion,        m_szLocalMinorVersion,  m_szLocalLatestVersion,
                      m_szLocalPrimaryVersion, m_szLocalEndVersion};
    for (char* f : fields)
        memset(f, 0, 20);
    memset(m_szNewUpdateName, 0, sizeof(m_szNewUpdateName));
    memset(m_szLocalUpdateName, 0, sizeof(m_szLocalUpdateName));
    memset(m_szExecutePath, 0, sizeof(m_szExecutePath));
}

int CFileUpdater::StopRequest() {
    return ReleaseStopEvent();
}

int CFileUpdater::ReleaseStopEvent() {
    plat::CriticalSectionLock lock(m_StopLock);
    if (!m_pProtocol)
        return 1;
    plat::EventHandle ev = m_pProtocol->GetStopEvent();
    if (!ev)
        return 1;
    plat::SetEvent(ev);
    plat::CloseEvent(ev);
    m_pProtocol->SetStopEvent(plat::EventHandle());
    return 0;
}

plat::EventHandle CFileUpdater::InstallStopEvent() {
    plat::CriticalSectionLock lock(m_StopLock);
    if (m_pProtocol) {
        plat::EventHandle old = m_pProtocol->GetStopEvent();
        if (old) {
            plat::SetEvent(old);
            plat::CloseEvent(old);
        }
    }
    plat::EventHandle ev = plat::CreateEvent(true, false);
    if (m_pProtocol)
        m_pProtocol->SetStopEvent(ev);
    return ev;
}
