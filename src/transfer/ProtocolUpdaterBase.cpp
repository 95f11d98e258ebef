#include "transfer/ProtocolUpdaterBase.h"

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Resource.h"
#include "platform/Thread.h"
#include "transfer/LastResponse.h"

CProtocolUpdaterBase::CProtocolUpdaterBase() {
    SetResponseTextHook(&transfer::LastResponseHook);
}

CProtocolUpdaterBase::~CProtocolUpdaterBase() {
    std::lock_guard<std::mutex> lock(m_stopLock);
    if (m_hStopEvent) {
        plat::SetEvent(m_hStopEvent);
        plat::CloseEvent(m_hStopEvent);
        m_hStopEvent.reset();
    }
}

void CProtocolUpdaterBase::SetConnectInfo(const char* host, int port, const char* user,
                                          const char* password, const char* servicePath,
                                          const char* testPath, unsigned char launcherType) {
    CopyField(m_szHost, host);
    m_nPort = static_cast<unsigned>(port);
    CopyField(m_szUser, user);
    CopyField(m_szPassword, password);
    if (servicePath)
        CopyField(m_szServicePath, servicePath);
    if (testPath)
        CopyField(m_szTestPath, testPath);
    if (LogsSettings()) {
        UpdateLog("SetConnectInfo - HTTPUpdate \n");
        UpdateLog("SetConnectInfo - HTTPUpdate TeszTestPath  %s \n", testPath ? testPath : "");
        UpdateLog("SetConnectInfo - HTTPUpdate szServicePath %s \n", m_szServicePath);
    }
    SetLauncherType(launcherType);
}

int CProtocolUpdaterBase::DeletePath(const char* path) {
    UpdateLog("DeletePath %s\n", path ? path : "");
    if (path && *path && plat::DeleteTree(path))
        return 1;
    uint32_t code = plat::GetLastError();
    if (code == 0)
        code = plat::ERROR_FILE_NOT_FOUND_CODE;
    UpdateLog("DeletePath %s ErrorCode %d\n", path ? path : "", static_cast<int>(code));
    return 0;
}

void CProtocolUpdaterBase::SetLauncherType(unsigned int type) {
    m_nLauncherType = type;
    if (type == LAUNCHER_TYPE_SERVICE) {
        if (LogsSettings())
            UpdateLog("SetLauncherType - CHTTPUpdater LAUNCHER_TYPE_SERVICE\n");
        SetLauncherPath(m_szServicePath);
    } else if (type == LAUNCHER_TYPE_TEST) {
        if (LogsSettings())
            UpdateLog("SetLauncherType - CHTTPUpdater LAUNCHER_TYPE_TEST\n");
        SetLauncherPath(m_szTestPath);
    }
}

void CProtocolUpdaterBase::SetLauncherPath(const char* path) {
    if (LogsSettings())
        UpdateLog("CHTTPUpdater::SetLauncherPath(TCHAR* szFTPPath -  %s\n", path ? path : "");
    // The service and test paths are passed in here themselves: copy through
    // a temporary so that a path never overlaps its own destination.
    char copy[sizeof m_szDefaultPath];
    CopyField(copy, path);
    CopyField(m_szDefaultPath, copy);
}

int CProtocolUpdaterBase::ConnectTo(const char* host, int port, const char* user,
                                    const char* password) {
    CopyField(m_szHost, host);
    m_nPort = static_cast<unsigned>(port);
    CopyField(m_szUser, user);
    CopyField(m_szPassword, password);
    return Connect();
}

void CProtocolUpdaterBase::SetStopEvent(plat::EventHandle stopEvent) {
    std::lock_guard<std::mutex> lock(m_stopLock);
    m_hStopEvent = std::move(stopEvent);
}

plat::EventHandle CProtocolUpdaterBase::GetStopEvent() {
    std::lock_guard<std::mutex> lock(m_stopLock);
    return m_hStopEvent;
}

bool CProtocolUpdaterBase::StopEventClear(bool* parked) {
    return plat::RunCheckPoint(GetStopEvent(), parked);
}

void CProtocolUpdaterBase::SetAddress(const char* host) {
    if (host && *host)
        CopyField(m_szHost, host);
}

void CProtocolUpdaterBase::SetUserID(const char* user) {
    if (user && *user)
        CopyField(m_szUser, user);
}

void CProtocolUpdaterBase::SetPassword(const char* password) {
    if (password && *password)
        CopyField(m_szPassword, password);
}

void CProtocolUpdaterBase::SetCallBack(WindowHandle window, UPDATE_CALLBACK callback) {
    CUpdaterBase::SetCallBack(window, callback);
}

void CProtocolUpdaterBase::RecordSystemError(uint32_t code) {
    SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(code), nullptr, CUSTOM_ERROR_NONE);
}

TransferEndpoint CProtocolUpdaterBase::Endpoint() const {
    TransferEndpoint e;
    e.host = m_szHost;
    e.port = m_nPort;
    e.user = m_szUser;
    e.password = m_szPassword;
    e.agent = m_agent;
    e.connectTimeout = m_nConnectTimeout;
    e.lowSpeedTime = m_nLowSpeedTime;
    e.replyTimeout = m_nReplyTimeout;
    e.tls = m_bTls;
    e.options = m_options;
    return e;
}

std::string CProtocolUpdaterBase::RootText() const {
    if (m_pszScheme[0] == '\0')
        return "";
    return std::string(m_pszScheme) + "://" + m_szHost + ":" + std::to_string(m_nPort) + "/" +
           m_szDefaultPath;
}

int CProtocolUpdaterBase::ConnectSession(TransferProtocol protocol, unsigned defaultPort,
                                         const char* agent, bool httpAddressLine) {
    m_nConnectState = CONNECT_STATE_CONNECTING;
    if (m_nUserLogMode)
        UpdateLog("Connect Update Server\n");
    else
        UpdateLog("Connect %s:%d\n", m_szHost, static_cast<int>(m_nPort));
    if (m_szHost[0] == '\0') {
        m_nConnectState = CONNECT_STATE_DISCONNECTED;
        UpdateLog("Connect Failed Address is NULL\n");
        return 0;
    }
    if (m_nPort == 0)
        m_nPort = defaultPort;

    CloseSession();
    m_nConnectState = CONNECT_STATE_CONNECTING;
    m_agent = agent;
    m_pszScheme = protocol == TransferProtocol::FTP     ? "ftp"
                  : protocol == TransferProtocol::HTTPS ? "https"
                                                        : "http";
    m_pSession = CreateTransferSession(protocol);
    if (!m_pSession) {
        UpdateLog("InternetOpen Failed\n");
        m_nConnectState = CONNECT_STATE_DISCONNECTED;
        RecordSystemError(plat::ERROR_NOT_ENOUGH_MEMORY_CODE);
        return 0;
    }
    if (httpAddressLine)
        UpdateLog("HTTP Address %s \n", m_szHost);
    uint32_t error = 0;
    if (!m_pSession->Open(Endpoint(), &error)) {
        RecordConnectFailure(error);
        return 0;
    }
    m_nConnectState = CONNECT_STATE_CONNECTED;
    return 1;
}

void CProtocolUpdaterBase::RecordConnectFailure(uint32_t error) {
    // Logs are mailed to support: the password never goes into one.
    if (m_nUserLogMode)
        UpdateLog("InternetConnect Update Server Failed.\n");
    else
        UpdateLog("InternetConnect Ftp Failed. (address %s:%d id/pass %s/%s)\n", m_szHost,
                  static_cast<int>(m_nPort), m_szUser, m_szPassword[0] ? "****" : "");
    CloseSession();
    char text[plat::kMaxPath] = "";
    plat::LoadResourceString(m_hResource, IDS_CONNECT_FAIL, text, sizeof text);
    SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(error), text, CUSTOM_ERROR_CONNECT);
}

void CProtocolUpdaterBase::CloseSession() {
    m_nConnectState = CONNECT_STATE_DISCONNECTED;
    if (m_pSession)
        m_pSession->Close();
}
