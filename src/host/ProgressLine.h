// Texts varn-patch shows: the one live progress line of a terminal and the
// plain log lines written when the output is not a terminal. Pure functions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/UpdateTypes.h"

// What the progress line needs of the run, as last reported.
struct ProgressSnapshot {
    int code = -1;  // last notification, -1 before the first
    std::string file;
    uint64_t fileSize = 0;
    uint64_t fileReceived = 0;
    uint64_t totalSize = 0;
    uint64_t totalReceived = 0;
    int fileIndex = 0;
    int fileCount = 0;
    uint64_t percent = 0;        // pack closing activity, 1-100
    double downloadSeconds = 0;  // since the current download began
};

// "512 B", "1.5 KB", "3.25 MB", "1.00 GB" (binary units).
std::string FormatBytes(uint64_t bytes);
// The step a notification belongs to: "connecting", "download", "extract",
// "apply", "closing packs", "complete", "failed".
const char* StepName(int code);
// One line: step, file, bytes of the file (or items of the step), the
// percentage of the whole run, and the download speed. When columns is not
// 0 the line is kept shorter than columns by cutting the file name's front.
std::string FormatProgressLine(const ProgressSnapshot& s, size_t columns);
// A plain log line for a notification worth one ("" otherwise): starts of
// downloads, archives and file lists, applied files, errors and the end.
std::string FormatEventLine(int code, const UPDATE_CALLBACK_INFO& info);
