// CUpdaterBase: base of the three process-wide updater objects
// (g_UpdateLogger, g_LoginFront, g_FileUpdater). Per object: directories,
// executable name, scrambling key, user-log mode. Class-wide: log flags,
// mail settings, program name, callback, the last-error record and the
// progress record.
//
// Threads: the log writers take no lock (each line is one append of a file
// opened and closed again). SetLastErrorMsg holds the class-wide critical
// section from its first step through notification 4.
#pragma once
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "base/UpdateTypes.h"
#include "platform/Thread.h"

// The 10-byte key shared by the version files, clientlist.uvf and type.uvf.
inline constexpr uint8_t kScrambleKey[10] = {0x3C, 0x91, 0x5E, 0xD0, 0x0A,
                                             0x7B, 0xE2, 0x46, 0x19, 0xC5};
// XORs a buffer that holds a whole file from its first byte with the key.
void ScrambleBuffer(uint8_t* data, size_t size);

// Writes the user log line (always active): "Log/<name>_YYYY_MM_DD.txt"
// in the game directory (the program's own).
void UserLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void UserLogV(const char* format, va_list args);

// Fetches the transfer library's last server response for error 12003:
// fills buf (zero-terminated, at most size-1 characters) and the extended
// error number; false when there is none. Installed by the transfer layer.
using ResponseTextHook = bool (*)(uint32_t* extendedError, char* buf, size_t size);

class CUpdaterBase {
public:
    CUpdaterBase();
    virtual ~CUpdaterBase();
    CUpdaterBase(const CUpdaterBase&) = default;
    CUpdaterBase& operator=(const CUpdaterBase&) = default;

    // Reads the object's settings from the plain type file (the base reads
    // the [SETUP] logging and mail keys). Returns 1.
    virtual int LoadSettings(const char* iniPath);

    // Appends to this object's update log when SAVELOG is set and
    // "LauncherLog.log" exists in the log directory (the game directory).
    void UpdateLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Appends to "<update dir>/PATCHLOG.txt" under the same rule with
    // SAVEPATCHLOG.
    void PatchLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void UpdateLogV(const char* format, va_list args);

    // Switches the update log on (first switch-on logs the command line);
    // a nonzero userMode also sets this object's user-log mode.
    void EnableSaveLog(int userMode);
    void EnableSavePatchLog();

    // Records the last error (kinds 0 none, 1 custom message, 2 system text)
    // and raises NOTIFY_ERROR for kinds 1 and 2 while holding the lock.
    void SetLastErrorMsg(int kind, int errorCode, const char* message, int customErrorCode);

    // Mails the logs of this object's update directory (update.uvf,
    // versionlist.uvf, PATCHLOG.txt, today's update log; the last
    // kLogMailTailBytes of each) to MAILADDRESS through MAILIP when SENDLOG
    // is set. Returns 1 when the server accepted the mail; 0 otherwise, with
    // "MainSend Error %d" (-1 or the server's reply code) in the patch log
    // when a session was tried. Blocks for at most the session time-out and
    // ends early on RequestMailStop. Call on the worker thread.
    int SendLogMail();
    static constexpr uint64_t kLogMailTailBytes = 4u << 20;
    // Raised by a stop request from any thread: a log mail in progress ends
    // and none starts until ClearMailStop (called when a run starts).
    static void RequestMailStop() { s_nMailStop.store(1, std::memory_order_relaxed); }
    static void ClearMailStop() { s_nMailStop.store(0, std::memory_order_relaxed); }
    // Today's update log of this object: "<update dir>/Log/LOG_YYYY_MM_DD.txt".
    std::string UpdateLogPath() const;

    // Scrambled source -> plain target. 1 on success.
    int DecodeFile(const char* source, const char* target);
    // Decodes "<update dir>/type.uvf" to the plain copy and calls
    // LoadSettings on it. 1 on success.
    int LoadLauncherType();
    // Path of the plain type-file copy in the private temporary directory.
    static void GetPlainTypePath(char* out, size_t size);

    // Base path = dir, update path "<dir>/Update" (not created). Used by
    // objects that work on another game directory than the executable's;
    // the user log and the "LauncherLog.log" marker follow it. Call before
    // a run starts (the worker reads the log directory without a lock).
    void SetBaseDirectory(const char* dir);

    // Raises a notification when a callback is set; otherwise does nothing.
    static void Notify(int32_t code);

    // Accessors of the class-wide state.
    static UPDATE_CALLBACK_INFO& CallbackInfo() { return s_CallbackInfo; }
    static void SetCallBack(WindowHandle window, UPDATE_CALLBACK callback);
    static UPDATE_CALLBACK GetCallBack() { return s_pCallBack; }
    static WindowHandle GetCallBackWindow() { return s_hCallBackWnd; }
    static void SetProgramName(const char* name);
    static const char* GetProgramName() { return s_szProgramName; }
    static const char* GetLastErrorMessage() { return s_szErrorMsg; }
    static int GetLastErrorKind() { return s_nErrorKind; }
    static int GetLastErrorCode() { return s_nErrorCode; }
    static int GetLastCustomErrorCode() { return s_nCustomErrorCode; }
    static void SetUserLogName(const char* name);
    static const char* LogDirectory() { return s_szLogDirectory; }
    static void SetResponseTextHook(ResponseTextHook hook) { s_pResponseTextHook = hook; }
    // The transfer library's last server response through the installed
    // hook; false when no hook is installed or there is no response.
    static bool GetLastResponseText(uint32_t* extendedError, char* buf, size_t size) {
        return s_pResponseTextHook != nullptr && s_pResponseTextHook(extendedError, buf, size);
    }
    // Restores every class-wide value to its initial state (tests only).
    static void ResetSharedStateForTests();

    // Per-object fields.
    char m_szUpdatePath[260];   // "<base>/Update"
    char m_szDefaultPath[260];  // base (game) directory, no trailing "/"
    char m_szExeName[260];      // file name of the running executable
    uint8_t m_byKey[10];        // scrambling key
    int m_nUserLogMode;         // 1 after -saveuserlog / CheckCommandLine

    // Class-wide settings (read by LoadSettings, switched on by options).
    static int s_nSendLog;
    static int s_nSaveLog;
    static int s_nSavePatchLog;
    static char s_szMailServer[100];
    static char s_szMailUser[100];
    static char s_szMailPass[100];
    static char s_szMailAddress[100];
    static char s_szUserLogName[100];
    // Where the user log and the marker file live: the game directory of
    // the last SetBaseDirectory, else the program's own directory.
    static char s_szLogDirectory[260];

private:
    static plat::CriticalSection& ErrorLock();
    static std::atomic<int> s_nMailStop;
    static char s_szProgramName[100];
    static WindowHandle s_hCallBackWnd;
    static UPDATE_CALLBACK s_pCallBack;
    static int s_nErrorKind;
    static int s_nErrorCode;
    static int s_nCustomErrorCode;
    static char s_szErrorMsg[260];
    static UPDATE_CALLBACK_INFO s_CallbackInfo;
    static ResponseTextHook s_pResponseTextHook;
};
