#include "transfer/HTTPUpdater.h"

#include <string>

#include "platform/Error.h"
#include "platform/Win32Types.h"

CHTTPUpdater::CHTTPUpdater(bool tls) {
    m_bTls = tls;
    m_nConnectTimeout = kConnectTimeoutSeconds;
    m_nLowSpeedTime = kLowSpeedTimeSeconds;
}

CHTTPUpdater::~CHTTPUpdater() {
    Disconnect();
}

void CHTTPUpdater::SetTimeouts(long connectSeconds, long lowSpeedSeconds) {
    m_nConnectTimeout = connectSeconds;
    m_nLowSpeedTime = lowSpeedSeconds;
    if (m_pSession)
        m_pSession->SetTimeouts(m_nConnectTimeout, m_nLowSpeedTime, m_nReplyTimeout);
}

long CHTTPUpdater::LastNewConnections() const {
    return m_pSession ? m_pSession->LastNewConnections() : 0;
}

int CHTTPUpdater::Connect() {
    if (m_bTls)
        return ConnectSession(TransferProtocol::HTTPS, 443, "UPDATE_HTTP", true);
    return ConnectSession(TransferProtocol::HTTP, 80, "UPDATE_HTTP", true);
}

int CHTTPUpdater::Download(const char* remoteName, const char* localPath, bool continuing) {
    if (!remoteName)
        remoteName = "";
    CDownloadLoop loop(*this, remoteName, "\n");
    if (!loop.OpenLocal(localPath, continuing))
        return 0;
    const std::string path = m_szDefaultPath[0] != '\0'
                                 ? "/" + std::string(m_szDefaultPath) + "/" + remoteName
                                 : "/" + std::string(remoteName);
    UpdateLog("CHTTPUpdater::DownloadFile m_szDefaultPath -  %s\n", m_szDefaultPath);
    UpdateLog("CHTTPUpdater::DownloadFile szHttpPath -  %s\n", path.c_str());
    if (m_nUserLogMode)
        UpdateLog("DownLoadFile update.uvf\n");
    else
        UpdateLog("DownLoadFile [%s]->[%s]\n", path.c_str(), localPath);
    if (!SessionHandle()) {
        // No connection: there is nothing to send the request on.
        FetchResult none;
        none.error = plat::ERROR_INVALID_HANDLE_CODE;
        return loop.Finish(none);
    }
    return loop.Finish(m_pSession->Fetch(path, loop));
}
