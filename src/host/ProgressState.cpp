#include "host/ProgressState.h"

void CProgressState::OnNotify(int code, const UPDATE_CALLBACK_INFO& info) {
    const std::string line = FormatEventLine(code, info);
    std::lock_guard<std::mutex> hold(m_lock);
    ++m_version;
    if (!line.empty()) {
        m_lines.push_back(line);
    }
    switch (code) {
        case NOTIFY_ERROR:
            m_outcome.lastCustomErrorCode = info.nCustomErrorCode;
            m_lastError = info.szErrorMsg;
            return;  // the step in progress goes on being shown
        case NOTIFY_UPDATE_COMPLETE:
            m_outcome.complete = true;
            break;
        case NOTIFY_UPDATE_FAILED:
            m_outcome.failed = true;
            break;
        case NOTIFY_FULL_VERSION_NEEDED:
            m_outcome.fullVersionNeeded = true;
            break;
        case NOTIFY_DOWNLOAD_START:
            m_downloadStart = Clock::now();
            break;
        default:
            break;
    }
    ProgressSnapshot& s = m_snapshot;
    s.code = code;
    s.file = info.szFileName;
    s.fileSize = info.nFileSize;
    s.fileReceived = info.nFileReceived;
    s.totalSize = info.nTotalSize;
    s.totalReceived = info.nTotalReceived;
    s.fileIndex = info.nFileIndex;
    s.fileCount = info.nFileCount;
    s.percent = info.nPercent;
}

ProgressSnapshot CProgressState::Snapshot() const {
    std::lock_guard<std::mutex> hold(m_lock);
    ProgressSnapshot s = m_snapshot;
    if (s.code >= NOTIFY_DOWNLOAD_START && s.code <= NOTIFY_DOWNLOAD_END) {
        s.downloadSeconds = std::chrono::duration<double>(Clock::now() - m_downloadStart).count();
    }
    return s;
}

std::vector<std::string> CProgressState::TakeLines() {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::string> lines;
    lines.swap(m_lines);
    return lines;
}

bool CProgressState::Finished() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_outcome.complete || m_outcome.failed;
}

void CProgressState::MarkInterrupted() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_outcome.complete && !m_outcome.failed) {
        m_outcome.interrupted = true;
    }
}

RunOutcome CProgressState::Outcome() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_outcome;
}

std::string CProgressState::LastError() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_lastError;
}

unsigned long CProgressState::Version() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_version;
}
