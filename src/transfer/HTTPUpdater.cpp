#include "transfer/HTTPUpdater.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Resource.h"
#include "transfer/CurlSupport.h"
#include "transfer/HttpReplyHeader.h"

namespace {

// Recorded with an empty reply: the file exists but holds nothing.
constexpr uint32_t kErrorHandleEof = 38;
constexpr size_t kWriteBufferSize = 256 * 1024;
constexpr long kReceiveBufferSize = 128 * 1024;

CURL* Curl(void* p) {
    return static_cast<CURL*>(p);
}

}  // namespace

struct CHTTPUpdater::Transfer {
    ~Transfer() { curl_slist_free_all(restHeaders); }

    CHTTPUpdater* self = nullptr;
    FILE* file = nullptr;
    const char* remoteName = "";
    CHttpReplyHeader reply;
    uint64_t length = 0;  // of the whole file, announced by the first reply
    bool replyAccepted = false;
    uint64_t received = 0;
    enum Abort { NONE, STOPPED, WRITE_FAILED, BAD_STATUS, NO_LENGTH, RANGE_REFUSED } abort = NONE;
    uint32_t writeError = 0;
    // The worker was held by a suspension during the current request.
    bool parked = false;
    // The current request asks for the rest after a held request broke off.
    bool continuing = false;
    std::string validator;              // If-Range value from the first reply
    curl_slist* restHeaders = nullptr;  // request headers of a continuation
};

CHTTPUpdater::CHTTPUpdater() {
    transfer::EnsureCurlInitialised();
    SetResponseTextHook(&transfer::LastResponseHook);
}

CHTTPUpdater::~CHTTPUpdater() {
    Disconnect();
}

void CHTTPUpdater::SetTimeouts(long connectSeconds, long lowSpeedSeconds) {
    m_nConnectTimeout = connectSeconds;
    m_nLowSpeedTime = lowSpeedSeconds;
    if (m_pCurl) {
        curl_easy_setopt(Curl(m_pCurl), CURLOPT_CONNECTTIMEOUT, m_nConnectTimeout);
        curl_easy_setopt(Curl(m_pCurl), CURLOPT_LOW_SPEED_TIME, m_nLowSpeedTime);
    }
}

std::string CHTTPUpdater::BaseUrl() const {
    std::string host = m_szHost;
    // An IPv6 literal needs brackets inside a URL.
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(m_nPort);
}

int CHTTPUpdater::Connect() {
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
        m_nPort = 80;

    Disconnect();
    m_nConnectState = CONNECT_STATE_CONNECTING;
    if (!SetUpHandle()) {
        UpdateLog("InternetOpen Failed\n");
        Disconnect();
        RecordSystemError(plat::ERROR_NOT_ENOUGH_MEMORY_CODE);
        return 0;
    }
    UpdateLog("HTTP Address %s \n", m_szHost);
    uint32_t error = 0;
    if (!ProbeServer(&error)) {
        RecordConnectFailure(error);
        return 0;
    }
    m_nConnectState = CONNECT_STATE_CONNECTED;
    return 1;
}

bool CHTTPUpdater::SetUpHandle() {
    CURL* c = curl_easy_init();
    if (!c)
        return false;
    m_pCurl = c;
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    if (headers)
        headers = curl_slist_append(headers, "Pragma: no-cache");
    if (!headers)
        return false;
    m_pHeaders = headers;
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "UPDATE_HTTP");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, m_nConnectTimeout);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytes);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, m_nLowSpeedTime);
    curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
    // Fewer, larger socket reads; the data is still handed on in 4 KiB blocks.
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &CHTTPUpdater::OnHeader);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CHTTPUpdater::OnBody);
    if (m_szUser[0] != '\0') {
        curl_easy_setopt(c, CURLOPT_USERNAME, m_szUser);
        curl_easy_setopt(c, CURLOPT_PASSWORD, m_szPassword);
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    return true;
}

bool CHTTPUpdater::ProbeServer(uint32_t* error) {
    // A connect-only transfer is never reused for requests, so the probe has
    // a handle of its own and its connection is closed right away.
    CURL* probe = curl_easy_init();
    if (!probe) {
        *error = plat::ERROR_NOT_ENOUGH_MEMORY_CODE;
        return false;
    }
    std::string url = BaseUrl() + "/";
    curl_easy_setopt(probe, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(probe, CURLOPT_URL, url.c_str());
    curl_easy_setopt(probe, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(probe, CURLOPT_CONNECTTIMEOUT, m_nConnectTimeout);
    CURLcode rc = curl_easy_perform(probe);
    curl_easy_cleanup(probe);
    *error = transfer::ErrorFromCurl(rc);
    return rc == CURLE_OK;
}

void CHTTPUpdater::RecordConnectFailure(uint32_t error) {
    if (m_nUserLogMode)
        UpdateLog("InternetConnect Update Server Failed.\n");
    else
        // Logs are mailed: the password is never written.
        UpdateLog("InternetConnect Ftp Failed. (address %s:%d id/pass %s/%s)\n", m_szHost,
                  static_cast<int>(m_nPort), m_szUser, m_szPassword[0] != '\0' ? "****" : "");
    Disconnect();
    char text[plat::kMaxPath] = "";
    plat::LoadResourceString(m_hResource, IDS_CONNECT_FAIL, text, sizeof text);
    SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(error), text, CUSTOM_ERROR_CONNECT);
}

void CHTTPUpdater::Disconnect() {
    m_nConnectState = CONNECT_STATE_DISCONNECTED;
    if (m_pCurl) {
        curl_easy_cleanup(Curl(m_pCurl));
        m_pCurl = nullptr;
    }
    if (m_pHeaders) {
        curl_slist_free_all(static_cast<curl_slist*>(m_pHeaders));
        m_pHeaders = nullptr;
    }
}

int CHTTPUpdater::DownloadFile(const char* remoteName, const char* localPath) {
    if (!remoteName)
        remoteName = "";
    FILE* file = localPath ? std::fopen(localPath, "wb") : nullptr;
    if (!file) {
        RecordSystemError(localPath ? plat::Win32FromErrno(errno)
                                    : plat::ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    // Blocks are 4 KiB; a larger stdio buffer spares one write call each.
    std::setvbuf(file, nullptr, _IOFBF, kWriteBufferSize);
    std::string path = m_szDefaultPath[0] != '\0'
                           ? "/" + std::string(m_szDefaultPath) + "/" + remoteName
                           : "/" + std::string(remoteName);
    UpdateLog("CHTTPUpdater::DownloadFile m_szDefaultPath -  %s\n", m_szDefaultPath);
    UpdateLog("CHTTPUpdater::DownloadFile szHttpPath -  %s\n", path.c_str());
    if (m_nUserLogMode)
        UpdateLog("DownLoadFile update.uvf\n");
    else
        UpdateLog("DownLoadFile [%s]->[%s]\n", path.c_str(), localPath);
    if (!m_pCurl) {
        // No connection: there is nothing to send the request on.
        std::fclose(file);
        RecordSystemError(plat::ERROR_INVALID_HANDLE_CODE);
        return 0;
    }

    Transfer t;
    t.self = this;
    t.file = file;
    t.remoteName = remoteName;
    std::string url = BaseUrl() + transfer::EscapePath(path);
    CURL* c = Curl(m_pCurl);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    CURLcode rc = curl_easy_perform(c);
    while (RequestRestAfterPause(t, rc))
        rc = curl_easy_perform(c);
    if (t.continuing) {
        curl_easy_setopt(c, CURLOPT_RANGE, nullptr);
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(m_pHeaders));
    }
    m_nLastNewConnections = 0;
    curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &m_nLastNewConnections);
    return FinishDownload(t, rc, localPath);
}

size_t CHTTPUpdater::OnHeader(char* data, size_t size, size_t count, void* userdata) {
    Transfer& t = *static_cast<Transfer*>(userdata);
    size_t n = size * count;
    if (t.reply.Feed(data, n) == CHttpReplyHeader::LINE_FINAL && !t.self->AcceptReply(t))
        return 0;
    return n;
}

bool CHTTPUpdater::AcceptReply(Transfer& t) {
    if (t.continuing)
        return AcceptRest(t);
    int status = t.reply.Status();
    if (status < 200 || status >= 300) {
        t.abort = Transfer::BAD_STATUS;
        return false;
    }
    if (!t.reply.HasLength()) {
        t.abort = Transfer::NO_LENGTH;
        return false;
    }
    t.length = t.reply.Length();
    t.validator = t.reply.Validator();
    t.replyAccepted = true;
    if (t.length == 0)
        return true;
    UPDATE_CALLBACK_INFO& info = CallbackInfo();
    std::snprintf(info.szFileName, sizeof info.szFileName, "%s", t.remoteName);
    info.nFileSize = t.length;
    info.nFileReceived = 0;
    Notify(NOTIFY_DOWNLOAD_START);
    if (!StopEventClear(&t.parked)) {
        t.abort = Transfer::STOPPED;
        return false;
    }
    return true;
}

bool CHTTPUpdater::AcceptRest(Transfer& t) {
    // Only the exact rest of the same file will do. Anything else (the whole
    // file, another version of it, an error) ends the download as the broken
    // connection would have.
    uint64_t first = 0, last = 0, total = 0;
    if (t.reply.Status() != 206 || !t.reply.Range(&first, &last, &total) || first != t.received ||
        last + 1 != t.length || total != t.length ||
        (t.reply.HasLength() && t.reply.Length() != t.length - t.received)) {
        t.abort = Transfer::RANGE_REFUSED;
        return false;
    }
    t.replyAccepted = true;
    if (!StopEventClear(&t.parked)) {
        t.abort = Transfer::STOPPED;
        return false;
    }
    return true;
}

bool CHTTPUpdater::MakeRestHeaders(Transfer& t) {
    auto add = [&t](const char* line) {
        curl_slist* longer = curl_slist_append(t.restHeaders, line);
        if (longer)
            t.restHeaders = longer;
        return longer != nullptr;
    };
    for (auto* h = static_cast<curl_slist*>(m_pHeaders); h; h = h->next)
        if (!add(h->data))
            return false;
    // The rest only of the very file already begun: a changed one would come
    // whole, and be refused.
    return t.validator.empty() || add(("If-Range: " + t.validator).c_str());
}

bool CHTTPUpdater::RequestRestAfterPause(Transfer& t, int rc) {
    // A server gives up on a reader that stops reading (send time-outs of a
    // minute are common): a download held by a suspension may find its
    // connection gone once it runs again. It then asks for the bytes it does
    // not have yet rather than failing. Any other broken transfer fails as
    // before, so this never loops: each new request needs a new suspension.
    if (!t.parked || t.abort != Transfer::NONE || !t.replyAccepted || rc == CURLE_OK ||
        t.received >= t.length)
        return false;
    if (!StopEventClear()) {
        t.abort = Transfer::STOPPED;
        return false;
    }
    if (!t.restHeaders && !MakeRestHeaders(t))
        return false;
    const std::string range = std::to_string(t.received) + "-";
    UpdateLog("DownLoadFile rest of [%s] from %s\n", t.remoteName, range.c_str());
    CURL* c = Curl(m_pCurl);
    curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, t.restHeaders);
    t.reply = CHttpReplyHeader();
    t.replyAccepted = false;
    t.parked = false;
    t.continuing = true;
    return true;
}

size_t CHTTPUpdater::OnBody(char* data, size_t size, size_t count, void* userdata) {
    Transfer& t = *static_cast<Transfer*>(userdata);
    size_t n = size * count;
    if (!t.replyAccepted)
        return 0;
    // Hand the data on in blocks of at most kChunkSize, with a progress
    // notification and a stop test after each, whatever libcurl delivers.
    for (size_t done = 0; done < n;) {
        size_t chunk = std::min(kChunkSize, n - done);
        if (!t.self->StoreChunk(t, data + done, chunk))
            return 0;
        done += chunk;
    }
    return n;
}

bool CHTTPUpdater::StoreChunk(Transfer& t, const char* data, size_t n) {
    if (std::fwrite(data, 1, n, t.file) != n) {
        t.writeError = plat::Win32FromErrno(errno);
        t.abort = Transfer::WRITE_FAILED;
        return false;
    }
    t.received += n;
    UPDATE_CALLBACK_INFO& info = CallbackInfo();
    info.nFileReceived += n;
    info.nTotalReceived += n;
    info.nLastRead = n;
    Notify(NOTIFY_DOWNLOAD_PROGRESS);
    if (t.received >= t.length)
        return true;
    if (!StopEventClear(&t.parked)) {
        t.abort = Transfer::STOPPED;
        return false;
    }
    return true;
}

int CHTTPUpdater::FinishDownload(Transfer& t, int rcInt, const char* localPath) {
    CURLcode rc = static_cast<CURLcode>(rcInt);
    // Buffered data must reach the disk before the result is judged.
    bool closed = std::fclose(t.file) == 0;
    uint32_t closeError = closed ? 0 : plat::Win32FromErrno(errno);
    switch (t.abort) {
        case Transfer::STOPPED:
            UpdateLog("WaitForSingleObject fail\n");
            return 0;
        case Transfer::WRITE_FAILED:
            UpdateLog("WriteFile fail\n");
            RecordSystemError(t.writeError);
            return 0;
        case Transfer::BAD_STATUS:
            // An error page must never pass for the file asked for.
            plat::DeleteFile(localPath);
            transfer::SetLastResponse(static_cast<uint32_t>(t.reply.Status()),
                                      t.reply.StatusLine());
            SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(transfer::kErrorInternetExtended),
                            t.reply.StatusLine().c_str(), CUSTOM_ERROR_NONE);
            return 0;
        case Transfer::NO_LENGTH:
            RecordSystemError(transfer::kErrorHttpHeaderNotFound);
            return 0;
        case Transfer::RANGE_REFUSED:
            UpdateLog("InternetReadFile fail\n");
            RecordSystemError(transfer::kErrorInternetConnectionAborted);
            return 0;
        case Transfer::NONE:
            break;
    }
    if (!t.replyAccepted) {
        // No reply at all (or a redirect that could not be followed).
        RecordSystemError(rc != CURLE_OK ? transfer::ErrorFromCurl(rc)
                                         : transfer::kErrorHttpInvalidServerResponse);
        return 0;
    }
    if (rc != CURLE_OK || t.received != t.length) {
        UpdateLog("InternetReadFile fail\n");
        RecordSystemError(rc != CURLE_OK ? transfer::ErrorFromCurl(rc)
                                         : transfer::kErrorInternetConnectionAborted);
        return 0;
    }
    if (!closed) {
        UpdateLog("WriteFile fail\n");
        RecordSystemError(closeError);
        return 0;
    }
    if (t.length == 0)
        RecordSystemError(kErrorHandleEof);
    Notify(NOTIFY_DOWNLOAD_END);
    return 1;
}
