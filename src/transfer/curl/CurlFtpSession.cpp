#include "transfer/curl/CurlFtpSession.h"

#include <curl/curl.h>

#include <cctype>

#include "platform/Error.h"
#include "platform/Win32Types.h"
#include "transfer/curl/CurlSupport.h"

namespace {

constexpr long kReceiveBufferSize = 128 * 1024;
constexpr long kLowSpeedLimitBytes = 1;
// Longest wait for socket events between two turns of the transfer.
constexpr int kPollMs = 20;
// The FTP reply that announces the server is closing the control connection.
constexpr long kReplyServiceClosing = 421;

CURL* Curl(void* p) {
    return static_cast<CURL*>(p);
}

}  // namespace

struct CCurlFtpSession::Transfer {
    CDownloadSink* sink = nullptr;
    uint64_t knownSize = CDownloadSink::kUnknownSize;
    bool aborted = false;  // the sink ended the transfer
};

CCurlFtpSession::CCurlFtpSession() {
    transfer::EnsureCurlInitialised();
}

CCurlFtpSession::~CCurlFtpSession() {
    Close();
}

void CCurlFtpSession::SetTimeouts(long connectSeconds, long lowSpeedSeconds, long replySeconds) {
    m_endpoint.connectTimeout = connectSeconds;
    m_endpoint.lowSpeedTime = lowSpeedSeconds;
    m_endpoint.replyTimeout = replySeconds;
    ApplyTimeouts();
}

void CCurlFtpSession::ApplyTimeouts() {
    CURL* c = Curl(m_pCurl);
    if (!c)
        return;
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, m_endpoint.connectTimeout);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytes);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, m_endpoint.lowSpeedTime);
    curl_easy_setopt(c, CURLOPT_FTP_RESPONSE_TIMEOUT, m_endpoint.replyTimeout);
}

std::string CCurlFtpSession::Url(const std::string& path) const {
    std::string host = m_endpoint.host;
    // An IPv6 literal needs brackets inside a URL.
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    return "ftp://" + host + ":" + std::to_string(m_endpoint.port) + "/" +
           transfer::EscapePath(path);
}

bool CCurlFtpSession::Open(const TransferEndpoint& endpoint, uint32_t* error) {
    Close();
    m_endpoint = endpoint;
    CURL* c = curl_easy_init();
    m_pMulti = curl_multi_init();
    if (!c || !m_pMulti) {
        curl_easy_cleanup(c);
        Close();
        *error = plat::ERROR_NOT_ENOUGH_MEMORY_CODE;
        return false;
    }
    m_pCurl = c;
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_USERNAME, m_endpoint.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, m_endpoint.password.c_str());
    // One command per file, on the path as given: no directory changes to
    // undo between files.
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(c, CURLOPT_FTP_USE_EPSV, 1L);
    curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &CCurlFtpSession::OnReply);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
    // Through an HTTP proxy the FTP conversation itself is tunnelled: the
    // session needs real FTP replies (entry directory, SIZE, REST).
    curl_easy_setopt(c, CURLOPT_HTTPPROXYTUNNEL, 1L);
    transfer::ApplyOptions(c, m_endpoint);
    ApplyTimeouts();
    int rc = CURLE_OK;
    Perform("", false, &rc);
    if (rc != CURLE_OK) {
        *error = transfer::ErrorFromCurl(static_cast<CURLcode>(rc));
        Close();
        return false;
    }
    const char* entry = nullptr;
    curl_easy_getinfo(c, CURLINFO_FTP_ENTRY_PATH, &entry);
    m_entryDirectory = entry ? entry : "";
    return true;
}

void CCurlFtpSession::Close() {
    if (m_pCurl) {
        curl_easy_cleanup(Curl(m_pCurl));
        m_pCurl = nullptr;
    }
    if (m_pMulti) {
        // Closes the kept connection (QUIT).
        curl_multi_cleanup(static_cast<CURLM*>(m_pMulti));
        m_pMulti = nullptr;
    }
    m_entryDirectory.clear();
}

size_t CCurlFtpSession::OnReply(char* data, size_t size, size_t count, void* userdata) {
    auto* self = static_cast<CCurlFtpSession*>(userdata);
    const size_t n = size * count;
    // Server replies start with three digits; libcurl also passes lines of
    // its own ("Content-Length: ...") here, which are not replies.
    if (n >= 3 && std::isdigit(static_cast<unsigned char>(data[0])) &&
        std::isdigit(static_cast<unsigned char>(data[1])) &&
        std::isdigit(static_cast<unsigned char>(data[2]))) {
        size_t len = n;
        while (len > 0 && (data[len - 1] == '\r' || data[len - 1] == '\n'))
            --len;
        self->m_lastReply.assign(data, len);
    }
    return n;
}

size_t CCurlFtpSession::Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

size_t CCurlFtpSession::OnBody(char* data, size_t size, size_t count, void* userdata) {
    Transfer& t = *static_cast<Transfer*>(userdata);
    const size_t n = size * count;
    // The first byte is where the file counts as open.
    if (!t.sink->Began() && !t.sink->Begin(t.knownSize)) {
        t.aborted = true;
        return 0;
    }
    if (!t.sink->Write(data, n)) {
        t.aborted = true;
        return 0;
    }
    return n;
}

CURLcode CCurlFtpSession::RunHandle() {
    // Driven through the session's multi handle (which also holds the kept
    // connection) with a short wait: the easy interface's own loop waits up
    // to a second for a data connection event it can miss.
    CURLM* m = static_cast<CURLM*>(m_pMulti);
    CURL* c = Curl(m_pCurl);
    if (curl_multi_add_handle(m, c) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode rc = CURLE_OK;
    for (int running = 1; running;) {
        if (curl_multi_perform(m, &running) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
        if (running)
            curl_multi_poll(m, nullptr, 0, kPollMs, nullptr);
    }
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m, &queued))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == c)
            rc = msg->data.result;
    curl_multi_remove_handle(m, c);
    return rc;
}

FetchResult CCurlFtpSession::Perform(const std::string& path, bool body, int* rcOut) {
    FetchResult r;
    CURL* c = Curl(m_pCurl);
    if (!c) {
        r.error = plat::ERROR_INVALID_HANDLE_CODE;
        *rcOut = CURLE_FAILED_INIT;
        return r;
    }
    const std::string url = Url(path);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOBODY, body ? 0L : 1L);
    if (!body) {
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CCurlFtpSession::Discard);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, nullptr);
    }
    m_lastReply.clear();
    const CURLcode rc = RunHandle();
    *rcOut = rc;
    m_nLastNewConnections = 0;
    curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &m_nLastNewConnections);
    if (rc == CURLE_OK)
        return r;
    long code = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
    r.connectionLost = code == kReplyServiceClosing || transfer::ConnectionLost(rc);
    if (code >= 400 && !m_lastReply.empty()) {
        r.error = TRANSFER_ERROR_EXTENDED;
        r.reply = m_lastReply;
        r.replyCode = static_cast<uint32_t>(code);
    } else {
        r.error = transfer::ErrorFromCurl(rc);
    }
    return r;
}

FetchResult CCurlFtpSession::Size(const std::string& path, uint64_t* size) {
    int rc = CURLE_OK;
    FetchResult r = Perform(path, false, &rc);
    if (r.error != 0)
        return r;
    curl_off_t length = -1;
    curl_easy_getinfo(Curl(m_pCurl), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length < 0) {
        // The server would not tell the size.
        r.error =
            m_lastReply.empty() ? TRANSFER_ERROR_INVALID_SERVER_RESPONSE : TRANSFER_ERROR_EXTENDED;
        r.reply = m_lastReply;
        return r;
    }
    *size = static_cast<uint64_t>(length);
    return r;
}

FetchResult CCurlFtpSession::Fetch(const std::string& path, CDownloadSink& sink,
                                   uint64_t knownSize) {
    Transfer t;
    t.sink = &sink;
    t.knownSize = knownSize;
    if (CURL* c = Curl(m_pCurl)) {
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CCurlFtpSession::OnBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
        // REST: only the bytes after those the sink holds.
        curl_easy_setopt(c, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(sink.HeldBefore()));
    }
    int rc = CURLE_OK;
    FetchResult r = Perform(path, true, &rc);
    if (CURL* c = Curl(m_pCurl)) {
        curl_easy_setopt(c, CURLOPT_WRITEDATA, nullptr);
        curl_easy_setopt(c, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));
    }
    if (t.aborted)
        return FetchResult();  // the sink knows why
    // An empty file sends no byte: it opened once the transfer ended well.
    if (r.error == 0 && !sink.Began())
        sink.Begin(knownSize);
    return r;
}

FetchResult CCurlFtpSession::Command(const std::string& command) {
    curl_slist* list = curl_slist_append(nullptr, command.c_str());
    if (!list || !m_pCurl) {
        curl_slist_free_all(list);
        FetchResult r;
        r.error = m_pCurl ? plat::ERROR_NOT_ENOUGH_MEMORY_CODE : plat::ERROR_INVALID_HANDLE_CODE;
        return r;
    }
    curl_easy_setopt(Curl(m_pCurl), CURLOPT_QUOTE, list);
    int rc = CURLE_OK;
    FetchResult r = Perform("", false, &rc);
    curl_easy_setopt(Curl(m_pCurl), CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(list);
    return r;
}
