#include "transfer/FTPUpdater.h"

#include "base/TransferErrors.h"
#include "platform/Error.h"
#include "platform/Win32Types.h"
#include "transfer/DownloadLoop.h"

namespace {

// Set on the keep-alive thread: StopKeepAlive there must not join itself.
thread_local bool t_onKeepAliveThread = false;

}  // namespace

CFTPUpdater::CFTPUpdater() {
    CopyField(m_szHost, kDefaultHost);
    CopyField(m_szUser, kDefaultAccount);
    CopyField(m_szPassword, kDefaultAccount);
    m_nPort = kDefaultPort;
    CopyField(m_szServicePath, "kor/varn/service");
    CopyField(m_szTestPath, "kor/varn/test");
    m_nConnectTimeout = kConnectTimeoutSeconds;
    m_nReplyTimeout = kReplyTimeoutSeconds;
    m_nLowSpeedTime = kLowSpeedTimeSeconds;
}

CFTPUpdater::~CFTPUpdater() {
    // Also joins a keep-alive thread that ended itself: it may still be on
    // its way out of KeepAliveLoop.
    StopKeepAlive();
    Disconnect();
}

void CFTPUpdater::SetTimeouts(long connectSeconds, long lowSpeedSeconds, long replySeconds) {
    std::lock_guard<std::mutex> hold(m_sessionLock);
    m_nConnectTimeout = connectSeconds;
    m_nLowSpeedTime = lowSpeedSeconds;
    m_nReplyTimeout = replySeconds;
    if (m_pSession)
        m_pSession->SetTimeouts(connectSeconds, lowSpeedSeconds, replySeconds);
}

int CFTPUpdater::Connect() {
    std::lock_guard<std::mutex> hold(m_sessionLock);
    return ConnectSession(TransferProtocol::FTP, kDefaultPort, "UPDATE_FTP", false);
}

void CFTPUpdater::Disconnect() {
    std::lock_guard<std::mutex> hold(m_sessionLock);
    CloseSession();
}

void* CFTPUpdater::GetConnectHandle() {
    std::lock_guard<std::mutex> hold(m_sessionLock);
    return SessionHandle();
}

int CFTPUpdater::Download(const char* remoteName, const char* localPath, bool continuing) {
    std::lock_guard<std::mutex> hold(m_sessionLock);
    if (!remoteName)
        remoteName = "";
    // The current directory is where the login put the session.
    const std::string current = SessionHandle() ? m_pSession->EntryDirectory() : "";
    if (current.empty()) {
        RecordSystemError(SessionHandle() ? TRANSFER_ERROR_INVALID_SERVER_RESPONSE
                                          : plat::ERROR_INVALID_HANDLE_CODE);
        return 0;
    }
    // The server is asked for the path relative to the login directory; the
    // log shows it absolute.
    const std::string dir = m_szDefaultPath;
    const std::string relative = dir.empty() ? remoteName : dir + "/" + remoteName;
    const std::string shown = (current == "/" ? "" : current) + "/" + relative;
    if (m_nUserLogMode)
        UpdateLog("DownLoadFile [%s]\n", localPath ? localPath : "");
    else
        UpdateLog("DownLoadFile [%s]->[%s]\n", shown.c_str(), localPath ? localPath : "");

    CDownloadLoop loop(*this, remoteName, "");
    if (!loop.OpenLocal(localPath, continuing))
        return 0;
    uint64_t size = 0;
    FetchResult r = LookUp(relative, &size);
    if (r.error != 0)
        return loop.Finish(r);
    return loop.Finish(OpenAndRead(relative, size, loop));
}

FetchResult CFTPUpdater::LookUp(const std::string& path, uint64_t* size) {
    FetchResult r = m_pSession->Size(path, size);
    if (r.error == 0 || !r.connectionLost)
        return r;
    // The server closed the idle control connection (421): log in again
    // and ask once more, rather than failing the run.
    UpdateLog("Reconnect Ftp Server (%s)\n", r.reply.c_str());
    uint32_t error = 0;
    if (!m_pSession->Open(Endpoint(), &error)) {
        m_nConnectState = CONNECT_STATE_DISCONNECTED;
        return r;
    }
    return m_pSession->Size(path, size);
}

FetchResult CFTPUpdater::OpenAndRead(const std::string& path, uint64_t size, CDownloadLoop& loop) {
    FetchResult r;
    for (int attempt = 1;; ++attempt) {
        r = m_pSession->Fetch(path, loop, size);
        // Past the first byte a failure is a read failure, never retried.
        if (r.error == 0 || loop.Began())
            return r;
        CallbackInfo().nErrorCode = static_cast<int>(r.error);
        if (attempt == kOpenAttempts)
            break;
        plat::Sleep(kOpenRetryMs);
        if (!loop.MayGoOn())
            return FetchResult();  // stopped: Finish logs it
    }
    // The file never opened: nothing of it is worth keeping.
    loop.DiscardLocal();
    return r;
}

bool CFTPUpdater::KeepAliveRunning() {
    std::lock_guard<std::mutex> hold(m_keepAliveLock);
    return m_keepAliveThread != nullptr;
}

void CFTPUpdater::ReapKeepAliveLocked() {
    if (m_keepAliveThread)
        plat::WaitForThread(m_keepAliveThread, plat::INFINITE_WAIT);
    m_keepAliveThread.reset();
    if (m_hKeepAlive)
        plat::CloseEvent(m_hKeepAlive);
    m_hKeepAlive.reset();
}

void CFTPUpdater::StartKeepAlive() {
    std::lock_guard<std::mutex> hold(m_keepAliveLock);
    if (m_hKeepAlive) {
        if (plat::WaitForSingleObject(m_hKeepAlive, 0) == plat::WAIT_TIMEOUT_CODE)
            return;  // running
        // It ended itself (a failed NOOP, a lost connection): start afresh.
        ReapKeepAliveLocked();
    }
    m_hKeepAlive = plat::CreateEvent(true, false);
    m_keepAliveThread = plat::CreateThread(
        [this] {
            t_onKeepAliveThread = true;
            KeepAliveLoop();
            return 0u;
        },
        false, nullptr);
    if (!m_keepAliveThread) {
        plat::CloseEvent(m_hKeepAlive);
        m_hKeepAlive.reset();
    }
}

void CFTPUpdater::StopKeepAlive() {
    plat::EventHandle event;
    plat::ThreadHandle thread;
    {
        std::lock_guard<std::mutex> hold(m_keepAliveLock);
        if (!m_hKeepAlive)
            return;
        plat::SetEvent(m_hKeepAlive);
        if (t_onKeepAliveThread)
            return;  // the owner joins it
        event = m_hKeepAlive;
        thread = m_keepAliveThread;
        m_hKeepAlive.reset();
        m_keepAliveThread.reset();
    }
    // Joined outside the lock: the loop may be taking it to stop itself.
    if (thread)
        plat::WaitForThread(thread, plat::INFINITE_WAIT);
    plat::CloseEvent(event);
}

void CFTPUpdater::KeepAliveLoop() {
    plat::EventHandle event;
    {
        std::lock_guard<std::mutex> hold(m_keepAliveLock);
        event = m_hKeepAlive;
    }
    UpdateLog("Start Send NOOP\n");
    while (plat::WaitForSingleObject(event, m_nKeepAliveIntervalMs) == plat::WAIT_TIMEOUT_CODE) {
        std::unique_lock<std::mutex> session(m_sessionLock, std::try_to_lock);
        if (!session.owns_lock())
            continue;  // a download is using the connection: it is not idle
        if (!SessionHandle()) {
            session.unlock();
            UpdateLog("Not Connected Ftp Server\n");
            StopKeepAlive();
            continue;
        }
        const FetchResult r = m_pSession->Command("NOOP");
        session.unlock();
        if (r.error != 0) {
            UpdateLog("Send Noop Fail (%d)\n", static_cast<int>(r.error));
            StopKeepAlive();
        } else {
            UpdateLog("Send Noop Succeed\n");
        }
    }
    UpdateLog("End Send NOOP\n");
}
