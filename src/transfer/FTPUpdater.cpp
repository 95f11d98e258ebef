#include "transfer/FTPUpdater.h"

#include "platform/Win32Types.h"

namespace {
const char* const kNotAvailable = "FTP is not available yet";
}

CFTPUpdater::CFTPUpdater() {
    CopyField(m_szHost, kDefaultHost);
    CopyField(m_szUser, kDefaultAccount);
    CopyField(m_szPassword, kDefaultAccount);
    m_nPort = kDefaultPort;
    CopyField(m_szServicePath, "kor/varn/service");
    CopyField(m_szTestPath, "kor/varn/test");
}

CFTPUpdater::~CFTPUpdater() = default;

int CFTPUpdater::Connect() {
    m_nConnectState = CONNECT_STATE_CONNECTING;
    if (m_nUserLogMode)
        UpdateLog("Connect Update Server\n");
    else
        UpdateLog("Connect %s:%d\n", m_szHost, static_cast<int>(m_nPort));
    m_nConnectState = CONNECT_STATE_DISCONNECTED;
    if (m_szHost[0] == '\0') {
        UpdateLog("Connect Failed Address is NULL\n");
        return 0;
    }
    UpdateLog("%s\n", kNotAvailable);
    SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(plat::ERROR_NOT_SUPPORTED_CODE),
                    kNotAvailable, CUSTOM_ERROR_CONNECT);
    return 0;
}

void CFTPUpdater::Disconnect() {
    m_nConnectState = CONNECT_STATE_DISCONNECTED;
}

int CFTPUpdater::DownloadFile(const char* remoteName, const char* localPath) {
    SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(plat::ERROR_NOT_SUPPORTED_CODE),
                    kNotAvailable, CUSTOM_ERROR_NONE);
    return 0;
}
