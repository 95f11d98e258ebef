#include "transfer/DownloadLoop.h"

#include <algorithm>
#include <cerrno>

#include "base/TransferErrors.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "transfer/LastResponse.h"
#include "transfer/ProtocolUpdaterBase.h"

namespace {

// Recorded for an empty file: it exists but holds nothing.
constexpr uint32_t kErrorHandleEof = 38;
// Blocks are 4 KiB; a larger stdio buffer spares one write call each.
constexpr size_t kWriteBufferSize = 256 * 1024;

}  // namespace

CDownloadLoop::CDownloadLoop(CProtocolUpdaterBase& owner, const char* remoteName,
                             const char* lineEnd)
    : m_owner(owner), m_remoteName(remoteName ? remoteName : ""), m_lineEnd(lineEnd) {}

CDownloadLoop::~CDownloadLoop() {
    if (m_file)
        std::fclose(m_file);
}

bool CDownloadLoop::OpenLocal(const char* localPath, bool continuing) {
    uint64_t held = 0;
    if (!continuing || !localPath || !plat::GetFileSize(localPath, held))
        held = 0;
    m_file = localPath ? std::fopen(localPath, held > 0 ? "ab" : "wb") : nullptr;
    if (!m_file) {
        m_owner.RecordSystemError(localPath ? plat::Win32FromErrno(errno)
                                            : plat::ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    m_localPath = localPath;
    m_held = held;
    m_received = held;
    std::setvbuf(m_file, nullptr, _IOFBF, kWriteBufferSize);
    return true;
}

bool CDownloadLoop::DropHeld() {
    if (m_held == 0)
        return true;
    m_owner.UpdateLog("DownLoadFile [%s] sent whole%s", m_remoteName.c_str(), m_lineEnd);
    m_held = 0;
    m_received = 0;
    m_file = std::freopen(m_localPath.c_str(), "wb", m_file);
    if (!m_file) {
        m_writeError = plat::Win32FromErrno(errno);
        m_abort = WRITE_FAILED;
        return false;
    }
    std::setvbuf(m_file, nullptr, _IOFBF, kWriteBufferSize);
    return true;
}

void CDownloadLoop::DiscardLocal() {
    uint32_t ignored = 0;
    CloseLocal(&ignored);
    if (!m_localPath.empty())
        plat::DeleteFile(m_localPath);
}

bool CDownloadLoop::CloseLocal(uint32_t* error) {
    if (!m_file)
        return true;
    // Buffered data must reach the disk before the result is judged.
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    *error = closed ? 0 : plat::Win32FromErrno(errno);
    return closed;
}

bool CDownloadLoop::Begin(uint64_t size) {
    m_began = true;
    m_size = size;
    if (size == 0)
        return true;
    UPDATE_CALLBACK_INFO& info = CUpdaterBase::CallbackInfo();
    std::snprintf(info.szFileName, sizeof info.szFileName, "%s", m_remoteName.c_str());
    info.nFileSize = size;
    // Bytes an earlier run left count as done, for this file and the run.
    info.nFileReceived = m_received;
    info.nTotalReceived += m_received;
    if (m_held > 0)
        m_owner.UpdateLog("DownLoadFile [%s] continued from %llu%s", m_remoteName.c_str(),
                          static_cast<unsigned long long>(m_held), m_lineEnd);
    CUpdaterBase::Notify(NOTIFY_DOWNLOAD_START);
    if (!MayGoOn()) {
        m_abort = STOPPED;
        return false;
    }
    return true;
}

bool CDownloadLoop::MayGoOn() {
    return m_owner.StopEventClear(&m_parked);
}

void CDownloadLoop::Resuming(uint64_t offset) {
    m_owner.UpdateLog("DownLoadFile rest of [%s] from %llu-\n", m_remoteName.c_str(),
                      static_cast<unsigned long long>(offset));
}

bool CDownloadLoop::TakeParked() {
    const bool parked = m_parked;
    m_parked = false;
    return parked;
}

bool CDownloadLoop::Write(const char* data, size_t n) {
    if (!m_began)
        return false;
    // Hand the data on in blocks of at most kChunkSize, with a progress
    // notification and a stop test after each, whatever the backend delivers.
    for (size_t done = 0; done < n;) {
        const size_t chunk = std::min(kChunkSize, n - done);
        if (!StoreChunk(data + done, chunk))
            return false;
        done += chunk;
    }
    return true;
}

bool CDownloadLoop::StoreChunk(const char* data, size_t n) {
    if (std::fwrite(data, 1, n, m_file) != n) {
        m_writeError = plat::Win32FromErrno(errno);
        m_abort = WRITE_FAILED;
        return false;
    }
    m_received += n;
    UPDATE_CALLBACK_INFO& info = CUpdaterBase::CallbackInfo();
    info.nFileReceived += n;
    info.nTotalReceived += n;
    info.nLastRead = n;
    CUpdaterBase::Notify(NOTIFY_DOWNLOAD_PROGRESS);
    if (m_received >= m_size)
        return true;
    if (!MayGoOn()) {
        m_abort = STOPPED;
        return false;
    }
    return true;
}

int CDownloadLoop::Finish(const FetchResult& result) {
    uint32_t closeError = 0;
    const bool closed = CloseLocal(&closeError);
    switch (m_abort) {
        case STOPPED:
            m_owner.UpdateLog("WaitForSingleObject fail%s", m_lineEnd);
            return 0;
        case WRITE_FAILED:
            m_owner.UpdateLog("WriteFile fail%s", m_lineEnd);
            m_owner.RecordSystemError(m_writeError);
            return 0;
        case NONE:
            break;
    }
    if (result.error != 0) {
        if (result.discardLocal)
            plat::DeleteFile(m_localPath);
        if (m_began)
            m_owner.UpdateLog("InternetReadFile fail%s", m_lineEnd);
        if (result.reply.empty()) {
            m_owner.RecordSystemError(result.error);
            return 0;
        }
        // The server's own words say more than any system text.
        transfer::SetLastResponse(result.replyCode, result.reply);
        m_owner.SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(result.error),
                                result.reply.c_str(), CUSTOM_ERROR_NONE);
        return 0;
    }
    if (!m_began || m_received != m_size) {
        // The server ended the transfer early, or sent more than announced.
        m_owner.UpdateLog("InternetReadFile fail%s", m_lineEnd);
        m_owner.RecordSystemError(TRANSFER_ERROR_CONNECTION_ABORTED);
        return 0;
    }
    if (!closed) {
        m_owner.UpdateLog("WriteFile fail%s", m_lineEnd);
        m_owner.RecordSystemError(closeError);
        return 0;
    }
    if (m_size == 0)
        m_owner.RecordSystemError(kErrorHandleEof);
    CUpdaterBase::Notify(NOTIFY_DOWNLOAD_END);
    return 1;
}
