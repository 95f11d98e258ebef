#include "transfer/curl/CurlHttpSession.h"

#include <curl/curl.h>

#include <cstring>

#include "platform/Error.h"
#include "platform/Win32Types.h"
#include "transfer/HttpReplyHeader.h"
#include "transfer/curl/CurlSupport.h"

namespace {

constexpr long kReceiveBufferSize = 128 * 1024;
constexpr long kLowSpeedLimitBytes = 1;

CURL* Curl(void* p) {
    return static_cast<CURL*>(p);
}

}  // namespace

struct CCurlHttpSession::Transfer {
    ~Transfer() { curl_slist_free_all(restHeaders); }

    CDownloadSink* sink = nullptr;
    CHttpReplyHeader reply;
    uint64_t length = 0;  // of the whole file, announced by the first reply
    bool replyAccepted = false;
    enum Abort { NONE, SINK, BAD_STATUS, NO_LENGTH, RANGE_REFUSED } abort = NONE;
    // The current request asks for the rest after a held request broke off.
    bool continuing = false;
    // The first request asks for the file from here on (bytes the sink held).
    uint64_t heldBefore = 0;
    uint64_t rangeEnd = 0;              // nonzero: only [heldBefore, rangeEnd) is asked for
    std::string validator;              // If-Range value from the first reply
    curl_slist* restHeaders = nullptr;  // request headers of a continuation
};

CCurlHttpSession::CCurlHttpSession() {
    transfer::EnsureCurlInitialised();
}

CCurlHttpSession::~CCurlHttpSession() {
    Close();
}

void CCurlHttpSession::SetTimeouts(long connectSeconds, long lowSpeedSeconds, long replySeconds) {
    m_endpoint.connectTimeout = connectSeconds;
    m_endpoint.lowSpeedTime = lowSpeedSeconds;
    m_endpoint.replyTimeout = replySeconds;
    if (m_pCurl) {
        curl_easy_setopt(Curl(m_pCurl), CURLOPT_CONNECTTIMEOUT, connectSeconds);
        curl_easy_setopt(Curl(m_pCurl), CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds);
    }
}

std::string CCurlHttpSession::BaseUrl() const {
    std::string host = m_endpoint.host;
    // An IPv6 literal needs brackets inside a URL.
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    return (m_endpoint.tls ? "https://" : "http://") + host + ":" + std::to_string(m_endpoint.port);
}

bool CCurlHttpSession::Open(const TransferEndpoint& endpoint, uint32_t* error) {
    Close();
    m_endpoint = endpoint;
    if (!SetUpHandle()) {
        Close();
        *error = plat::ERROR_NOT_ENOUGH_MEMORY_CODE;
        return false;
    }
    if (!ProbeServer(error)) {
        Close();
        return false;
    }
    return true;
}

bool CCurlHttpSession::SetUpHandle() {
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
    curl_easy_setopt(c, CURLOPT_USERAGENT, m_endpoint.agent.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    // A TLS session never follows a redirect to plain HTTP.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, Scheme());
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, Scheme());
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, m_endpoint.connectTimeout);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimitBytes);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, m_endpoint.lowSpeedTime);
    curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
    // Fewer, larger socket reads; the data is still handed on in 4 KiB blocks.
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &CCurlHttpSession::OnHeader);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CCurlHttpSession::OnBody);
    transfer::ApplyOptions(c, m_endpoint);
    if (!m_endpoint.user.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, m_endpoint.user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, m_endpoint.password.c_str());
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    return true;
}

bool CCurlHttpSession::ProbeServer(uint32_t* error) {
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
    curl_easy_setopt(probe, CURLOPT_PROTOCOLS_STR, Scheme());
    // For HTTPS this includes the handshake: an untrusted server fails here.
    curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
    transfer::ApplyOptions(probe, m_endpoint);
    curl_easy_setopt(probe, CURLOPT_CONNECTTIMEOUT, m_endpoint.connectTimeout);
    CURLcode rc = curl_easy_perform(probe);
    curl_easy_cleanup(probe);
    *error = transfer::ErrorFromCurl(rc);
    return rc == CURLE_OK;
}

void CCurlHttpSession::Close() {
    if (m_pCurl) {
        curl_easy_cleanup(Curl(m_pCurl));
        m_pCurl = nullptr;
    }
    if (m_pHeaders) {
        curl_slist_free_all(static_cast<curl_slist*>(m_pHeaders));
        m_pHeaders = nullptr;
    }
}

FetchResult CCurlHttpSession::Size(const std::string&, uint64_t*) {
    FetchResult r;
    r.error = plat::ERROR_NOT_SUPPORTED_CODE;
    return r;
}

FetchResult CCurlHttpSession::Command(const std::string&) {
    FetchResult r;
    r.error = plat::ERROR_NOT_SUPPORTED_CODE;
    return r;
}

FetchResult CCurlHttpSession::Fetch(const std::string& path, CDownloadSink& sink, uint64_t) {
    if (!m_pCurl) {
        // No connection: there is nothing to send the request on.
        FetchResult r;
        r.error = plat::ERROR_INVALID_HANDLE_CODE;
        return r;
    }
    Transfer t;
    t.sink = &sink;
    std::string url = BaseUrl() + transfer::EscapePath(path);
    CURL* c = Curl(m_pCurl);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    t.heldBefore = sink.HeldBefore();
    t.rangeEnd = sink.RangeEnd();
    const std::string last = t.rangeEnd > 0 ? std::to_string(t.rangeEnd - 1) : "";
    if (t.heldBefore > 0 || t.rangeEnd > 0)
        curl_easy_setopt(c, CURLOPT_RANGE, (std::to_string(t.heldBefore) + "-" + last).c_str());
    CURLcode rc = curl_easy_perform(c);
    while (RequestRestAfterPause(t, rc))
        rc = curl_easy_perform(c);
    if (t.heldBefore > 0 || t.rangeEnd > 0)
        curl_easy_setopt(c, CURLOPT_RANGE, nullptr);
    if (t.continuing) {
        curl_easy_setopt(c, CURLOPT_RANGE, nullptr);
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(m_pHeaders));
    }
    m_nLastNewConnections = 0;
    curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &m_nLastNewConnections);
    return Result(t, rc);
}

size_t CCurlHttpSession::OnHeader(char* data, size_t size, size_t count, void* userdata) {
    Transfer& t = *static_cast<Transfer*>(userdata);
    size_t n = size * count;
    if (t.reply.Feed(data, n) == CHttpReplyHeader::LINE_FINAL && !AcceptReply(t))
        return 0;
    return n;
}

bool CCurlHttpSession::AcceptReply(Transfer& t) {
    if (t.continuing)
        return AcceptRest(t);
    int status = t.reply.Status();
    const bool partial = t.heldBefore > 0 || t.rangeEnd > 0;
    if (partial && status == 206)
        return AcceptHeldRest(t);
    // Any other success is the whole file: what the sink held goes.
    if (partial && status >= 200 && status < 300 && !t.sink->DropHeld()) {
        t.abort = Transfer::SINK;
        return false;
    }
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
    if (!t.sink->Begin(t.length)) {
        t.abort = Transfer::SINK;
        return false;
    }
    return true;
}

bool CCurlHttpSession::AcceptRest(Transfer& t) {
    // Only the exact rest of the same file will do. Anything else (the whole
    // file, another version of it, an error) ends the fetch as the broken
    // connection would have.
    const uint64_t received = t.sink->Received();
    uint64_t first = 0, last = 0, total = 0;
    if (t.reply.Status() != 206 || !t.reply.Range(&first, &last, &total) || first != received ||
        last + 1 != t.length || total != t.length ||
        (t.reply.HasLength() && t.reply.Length() != t.length - received)) {
        t.abort = Transfer::RANGE_REFUSED;
        return false;
    }
    t.replyAccepted = true;
    if (!t.sink->MayGoOn()) {
        t.abort = Transfer::SINK;
        return false;
    }
    return true;
}

bool CCurlHttpSession::AcceptHeldRest(Transfer& t) {
    // The rest of the file from the held bytes on, and its whole size.
    uint64_t first = 0, last = 0, total = 0;
    const bool read = t.reply.Range(&first, &last, &total);
    const uint64_t end = t.rangeEnd > 0 ? t.rangeEnd : total;
    if (!read || first != t.heldBefore || last + 1 != end || end > total ||
        (t.reply.HasLength() && t.reply.Length() != end - first)) {
        t.abort = Transfer::RANGE_REFUSED;
        return false;
    }
    t.length = total;
    t.validator = t.reply.Validator();
    t.replyAccepted = true;
    if (!t.sink->Begin(t.length)) {
        t.abort = Transfer::SINK;
        return false;
    }
    return true;
}

bool CCurlHttpSession::MakeRestHeaders(Transfer& t) {
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

bool CCurlHttpSession::RequestRestAfterPause(Transfer& t, int rc) {
    // A server gives up on a reader that stops reading (send time-outs of a
    // minute are common): a fetch held by a suspension may find its
    // connection gone once it runs again. It then asks for the bytes it does
    // not have yet rather than failing. Any other broken transfer fails as
    // before, so this never loops: each new request needs a new suspension.
    if (!t.sink->TakeParked() || t.abort != Transfer::NONE || !t.replyAccepted || rc == CURLE_OK ||
        t.sink->Received() >= t.length)
        return false;
    if (!t.sink->MayGoOn()) {
        t.abort = Transfer::SINK;
        return false;
    }
    if (!t.restHeaders && !MakeRestHeaders(t))
        return false;
    t.sink->Resuming(t.sink->Received());
    const std::string range = std::to_string(t.sink->Received()) + "-";
    CURL* c = Curl(m_pCurl);
    curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, t.restHeaders);
    t.reply = CHttpReplyHeader();
    t.replyAccepted = false;
    t.continuing = true;
    return true;
}

size_t CCurlHttpSession::OnBody(char* data, size_t size, size_t count, void* userdata) {
    Transfer& t = *static_cast<Transfer*>(userdata);
    size_t n = size * count;
    if (!t.replyAccepted)
        return 0;
    if (!t.sink->Write(data, n)) {
        t.abort = Transfer::SINK;
        return 0;
    }
    return n;
}

FetchResult CCurlHttpSession::Result(const Transfer& t, int rcInt) const {
    CURLcode rc = static_cast<CURLcode>(rcInt);
    FetchResult r;
    switch (t.abort) {
        case Transfer::SINK:  // the sink knows why
            return r;
        case Transfer::BAD_STATUS:
            // An error page must never pass for the file asked for.
            r.error = TRANSFER_ERROR_EXTENDED;
            r.reply = t.reply.StatusLine();
            r.replyCode = static_cast<uint32_t>(t.reply.Status());
            r.discardLocal = true;
            return r;
        case Transfer::NO_LENGTH:
            r.error = TRANSFER_ERROR_HEADER_NOT_FOUND;
            return r;
        case Transfer::RANGE_REFUSED:
            r.error = TRANSFER_ERROR_CONNECTION_ABORTED;
            // The held start does not fit what the server has: it goes, and
            // the next attempt fetches the file whole.
            r.discardLocal = t.heldBefore > 0 && !t.continuing;
            return r;
        case Transfer::NONE:
            break;
    }
    if (!t.replyAccepted) {
        // No reply at all (or a redirect that could not be followed).
        r.error =
            rc != CURLE_OK ? transfer::ErrorFromCurl(rc) : TRANSFER_ERROR_INVALID_SERVER_RESPONSE;
        return r;
    }
    if (rc != CURLE_OK) {
        r.error = transfer::ErrorFromCurl(rc);
        r.connectionLost = transfer::ConnectionLost(rc);
    }
    return r;
}
