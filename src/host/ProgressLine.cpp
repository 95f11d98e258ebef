#include "host/ProgressLine.h"

#include <algorithm>
#include <cstdio>

std::string FormatBytes(uint64_t bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), value < 10 ? "%.2f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}

const char* StepName(int code) {
    switch (code) {
        case NOTIFY_DOWNLOAD_START:
        case NOTIFY_DOWNLOAD_PROGRESS:
        case NOTIFY_DOWNLOAD_END:
            return "download";
        case NOTIFY_EXTRACT_START:
        case NOTIFY_EXTRACT_FILE:
        case NOTIFY_EXTRACT_END:
            return "extract";
        case NOTIFY_APPLY_START:
        case NOTIFY_APPLY_FILE:
            return "apply";
        case NOTIFY_PERCENT:
            return "closing packs";
        case NOTIFY_CHECK_FILE:
            return "verify";
        case NOTIFY_REPAIR_FILE:
            return "repair";
        case NOTIFY_UPDATE_COMPLETE:
            return "complete";
        case NOTIFY_UPDATE_FAILED:
        case NOTIFY_FULL_VERSION_NEEDED:
            return "failed";
        default:
            return "connecting";
    }
}

namespace {

bool IsDownload(int code) {
    return code >= NOTIFY_DOWNLOAD_START && code <= NOTIFY_DOWNLOAD_END;
}

// Everything after the file name.
std::string Details(const ProgressSnapshot& s) {
    std::string out;
    if (s.code == NOTIFY_PERCENT) {
        return "  " + std::to_string(std::min<uint64_t>(s.percent, 100)) + "%";
    }
    if (IsDownload(s.code)) {
        out += "  " + FormatBytes(s.fileReceived) + "/" + FormatBytes(s.fileSize);
    } else if (s.fileCount > 0) {
        out += "  " + std::to_string(s.fileIndex) + "/" + std::to_string(s.fileCount);
    }
    if (s.totalSize > 0) {
        const uint64_t pct = std::min<uint64_t>(100, s.totalReceived * 100 / s.totalSize);
        out += "  " + std::to_string(pct) + "%";
    }
    if (IsDownload(s.code) && s.downloadSeconds > 0.05) {
        const double rate = static_cast<double>(s.fileReceived) / s.downloadSeconds;
        out += "  " + FormatBytes(static_cast<uint64_t>(rate)) + "/s";
    }
    return out;
}

}  // namespace

std::string FormatProgressLine(const ProgressSnapshot& s, size_t columns) {
    const std::string head = StepName(s.code);
    if (s.code == NOTIFY_UPDATE_COMPLETE || s.code == NOTIFY_UPDATE_FAILED ||
        s.code == NOTIFY_FULL_VERSION_NEEDED) {
        // The record still holds the last step's file and counts; the end
        // of the run is news enough.
        return head;
    }
    const std::string tail = Details(s);
    std::string file = s.code == NOTIFY_PERCENT || s.file.empty() ? "" : "  " + s.file;
    if (columns > 0) {
        // Keep the line shorter than the terminal so it never wraps; the end
        // of a path tells more than its start.
        const size_t room = columns - 1;
        const size_t fixed = head.size() + tail.size();
        if (fixed + file.size() > room) {
            const size_t keep = room > fixed + 5 ? room - fixed - 5 : 0;
            file = keep > 0 ? "  ..." + s.file.substr(s.file.size() - std::min(keep, s.file.size()))
                            : "";
        }
        std::string line = head + file + tail;
        return line.size() > room ? line.substr(0, room) : line;
    }
    return head + file + tail;
}

std::string FormatEventLine(int code, const UPDATE_CALLBACK_INFO& info) {
    const std::string name = info.szFileName;
    switch (code) {
        case NOTIFY_ERROR:
            return "error " + std::to_string(info.nErrorCode) + "/" +
                   std::to_string(info.nCustomErrorCode) + ": " + info.szErrorMsg;
        case NOTIFY_DOWNLOAD_START:
            return "download " + name + " (" + FormatBytes(info.nFileSize) + ")";
        case NOTIFY_EXTRACT_START:
            return "extract " + name + " (" + std::to_string(info.nFileCount) + " entries)";
        case NOTIFY_APPLY_START:
            return "apply " + name + " (" + std::to_string(info.nFileCount) + " files)";
        case NOTIFY_APPLY_FILE:
            return "  " + name;
        case NOTIFY_REPAIR_FILE:
            return "repaired " + name;
        case NOTIFY_UPDATE_COMPLETE:
            return "update complete";
        case NOTIFY_FULL_VERSION_NEEDED:
            return "a full installation is needed";
        case NOTIFY_UPDATE_FAILED:
            return "update failed";
        default:
            return "";
    }
}
