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
    const std::string path = RemotePath(remoteName);
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

std::string CHTTPUpdater::RemotePath(const char* remoteName) const {
    return m_szDefaultPath[0] != '\0' ? "/" + std::string(m_szDefaultPath) + "/" + remoteName
                                      : "/" + std::string(remoteName);
}

namespace {

// Collects one range in memory. A reply with the whole file is refused and
// noted, so the caller can fall back to fetching the file whole.
class CRangeSink : public CDownloadSink {
public:
    CRangeSink(uint64_t offset, uint64_t length, std::string* out, CHTTPUpdater& owner,
               bool (*mayGoOn)(CHTTPUpdater&))
        : m_offset(offset), m_length(length), m_out(out), m_owner(owner), m_mayGoOn(mayGoOn) {}
    bool Begin(uint64_t) override { return m_began = true; }
    bool Write(const char* data, size_t n) override {
        if (m_out->size() + n > m_length)
            return false;
        m_out->append(data, n);
        return m_mayGoOn(m_owner);
    }
    bool MayGoOn() override { return m_mayGoOn(m_owner); }
    bool TakeParked() override { return false; }
    bool Began() const override { return m_began; }
    uint64_t Received() const override { return m_out->size(); }
    uint64_t HeldBefore() const override { return m_offset; }
    uint64_t RangeEnd() const override { return m_offset + m_length; }
    bool DropHeld() override {
        m_whole = true;
        return false;
    }
    bool Whole() const { return m_whole; }

private:
    uint64_t m_offset, m_length;
    std::string* m_out;
    CHTTPUpdater& m_owner;
    bool (*m_mayGoOn)(CHTTPUpdater&);
    bool m_began = false;
    bool m_whole = false;
};

}  // namespace

int CHTTPUpdater::FetchRange(const char* remoteName, uint64_t offset, uint64_t length,
                             std::string* out) {
    out->clear();
    if (length == 0)
        return 1;
    if (!SessionHandle()) {
        RecordSystemError(plat::ERROR_INVALID_HANDLE_CODE);
        return 0;
    }
    CRangeSink sink(offset, length, out, *this,
                    [](CHTTPUpdater& self) { return self.StopEventClear(); });
    const FetchResult r = m_pSession->Fetch(RemotePath(remoteName), sink);
    if (sink.Whole())
        return -1;
    if (r.error == 0 && out->size() == length)
        return 1;
    UpdateLog("CHTTPUpdater::FetchRange Failed %s %llu+%llu (%u %s)\n", remoteName,
              static_cast<unsigned long long>(offset), static_cast<unsigned long long>(length),
              r.error, r.reply.c_str());
    if (r.error != 0)
        RecordSystemError(r.error);
    return 0;
}
