// The three log files: user log (always on), update log and patch log (only
// with their flag and a "LauncherLog.log" marker file in the current
// directory). Every line is opened, appended and closed again, so lines from
// different threads interleave only as whole lines.
#include <cstdio>
#include <string>

#include "base/CommandLineMask.h"
#include "base/UpdaterBase.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Thread.h"

namespace {

constexpr size_t kLineBuffer = 2048;

// Appends one time-stamped line; false when the file cannot be opened.
bool AppendLine(const std::string& path, const char* text) {
    FILE* f = std::fopen(path.c_str(), "a+");
    if (f == nullptr) {
        return false;
    }
    const plat::LocalTime t = plat::GetLocalTime();
    std::fprintf(f, "[%02d-%02d-%02d %02d:%02d:%02d] %s", t.year, t.month, t.day, t.hour, t.minute,
                 t.second, text);
    std::fclose(f);
    return true;
}

// A retry after creating the log directory covers the first line on a
// fresh installation, where even the update directory may not exist yet.
void AppendWithRetry(const std::string& path, const std::string& dir, const char* text) {
    if (!AppendLine(path, text)) {
        plat::CreateDirectoryChain(dir);
        AppendLine(path, text);
    }
}

bool MarkerFilePresent() {
    const std::string marker = plat::JoinPath(CUpdaterBase::LogDirectory(), "LauncherLog.log");
    FILE* f = std::fopen(marker.c_str(), "r");
    if (f == nullptr) {
        return false;
    }
    std::fclose(f);
    return true;
}

std::string DatedName(const char* prefix) {
    const plat::LocalTime t = plat::GetLocalTime();
    char name[160];
    std::snprintf(name, sizeof(name), "%s_%02d_%02d_%02d.txt", prefix, t.year, t.month, t.day);
    return name;
}

}  // namespace

void UserLogV(const char* format, va_list args) {
    char text[kLineBuffer];
    std::vsnprintf(text, sizeof(text), format, args);
    const std::string name = DatedName(CUpdaterBase::s_szUserLogName);
    const std::string dir = plat::JoinPath(CUpdaterBase::LogDirectory(), "Log");
    AppendWithRetry(plat::JoinPath(dir, name), dir, text);
}

void UserLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    UserLogV(format, args);
    va_end(args);
}

void CUpdaterBase::UpdateLogV(const char* format, va_list args) {
    if (s_nSaveLog == 0 || !MarkerFilePresent()) {
        return;
    }
    char text[kLineBuffer];
    std::vsnprintf(text, sizeof(text), format, args);
    AppendWithRetry(UpdateLogPath(), plat::JoinPath(m_szUpdatePath, "Log"), text);
}

std::string CUpdaterBase::UpdateLogPath() const {
    return plat::JoinPath(plat::JoinPath(m_szUpdatePath, "Log"), DatedName("LOG"));
}

void CUpdaterBase::UpdateLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    UpdateLogV(format, args);
    va_end(args);
}

void CUpdaterBase::PatchLog(const char* format, ...) {
    if (s_nSavePatchLog == 0 || !MarkerFilePresent()) {
        return;
    }
    char text[kLineBuffer];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    AppendLine(plat::JoinPath(m_szUpdatePath, "PATCHLOG.txt"), text);
}

void CUpdaterBase::EnableSaveLog(int userMode) {
    if (s_nSaveLog == 0) {
        // Set first so that the command line lands in the log it opens.
        s_nSaveLog = 1;
        UpdateLog("CommandLine %s\n", MaskPasswordOption(plat::GetCommandLine()).c_str());
    }
    s_nSaveLog = 1;
    if (userMode != 0) {
        m_nUserLogMode = 1;
    }
}

void CUpdaterBase::EnableSavePatchLog() {
    const int wasOn = s_nSavePatchLog;
    s_nSavePatchLog = 1;
    if (wasOn == 0) {
        PatchLog("CommandLine %s\n", MaskPasswordOption(plat::GetCommandLine()).c_str());
    }
}
