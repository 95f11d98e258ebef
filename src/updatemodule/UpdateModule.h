// CUpdateModule: the exported facade through which a host (the launcher
// window or another program) drives an update. The real work is done by the
// process-wide objects g_UpdateLogger (logs, last error), g_LoginFront
// (login-front query) and g_FileUpdater (the patch engine).
//
// Threads: setters, StartUpdate, CloseThread, CheckCommandLine and
// ExecuteProgram run on the host's thread; the worker thread started by
// StartUpdate runs UpdateRun and raises the notifications, so a host's
// callback must hand any window work to its own thread. Setters are not
// guarded against a running worker: configure before StartUpdate.
//
// Lifetime: the host owns the module. Before deleting it after a run, call
// CloseThread and wait until IsClosedThread returns nonzero; the destructor
// neither stops nor waits for the worker.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Export.h"
#include "base/UpdateTypes.h"
#include "base/UpdaterBase.h"
#include "engine/InstallCheck.h"
#include "platform/Process.h"
#include "platform/Resource.h"
#include "platform/Thread.h"
#include "transfer/ProtocolUpdater.h"

class VARN_EXPORT CUpdateModule {
public:
    // Defaults, the launcher type file, and the first user log line.
    CUpdateModule();
    // Closes the instance mutex and drops the worker handle; writes the last
    // user log line.
    ~CUpdateModule();
    CUpdateModule(const CUpdateModule&) = delete;
    // Copies every plain field and shares the worker thread handle. The
    // instance mutex is not copied: it stays with the object that took it,
    // so the lock is released exactly once.
    CUpdateModule& operator=(const CUpdateModule& other);

    // --- setters (take effect on the next run) ---
    // useLoginFront false switches the login-front query off (true never
    // switches it on). The engine replaces its transfer object: HTTP for
    // useFtp 0, FTP otherwise.
    void SetConnectInfo(const char* address, int port, const char* user, const char* password,
                        const char* servicePath, const char* testPath, unsigned char launcherType,
                        bool useLoginFront, int useFtp, eSERVICE_TYPE serviceType);
    // After SetConnectInfo: first is the root given there, named with its
    // protocol (an HTTPS root replaces the transfer object with an HTTPS
    // one); mirrors are the roots a run goes on from when the current one
    // fails; options apply to every connection.
    void SetTransferSettings(const PatchServerRoot& first, std::vector<PatchServerRoot> mirrors,
                             const TransferOptions& options);
    void SetCallBack(WindowHandle window, UPDATE_CALLBACK callback);
    void SetUpdatePath(const char* directory);
    void SetLauncherVersion(const char* version);
    void SetUpdateProgram(const char* name);
    void SetMapGameName(const char* name);
    void SetParentProgamName(const char* name);
    // The bundle is borrowed: it must outlive the module's runs.
    void SetResourceHandle(plat::ResourceHandle module);
    void SetUpdateFlag(int value);
    void SetFullVersionDownload(int allow);
    void SetUpdateManualVersion(const char* gameDirectory, const char* archiveBaseName,
                                const char* hashText, int fileCount, double archiveSize,
                                double unpackedSize);
    void SetKBT_USA(int on);
    void SetSaveLog();
    void SetSavePatchLog();

    // --- getters ---
    const char* GetLibVersion();
    eSERVICE_TYPE GetServerType();
    WindowHandle GetTargetHandle();
    int IsCheckAuthKey();
    char* GetMapGameName();
    // 1 while no worker runs (also before the first StartUpdate).
    int IsClosedThread();
    // Address of the shared last-error message.
    const char* GetLastErrorMsg();
    // Null outputs are skipped; buffers must hold 20 characters.
    void GetMajorUpdateVersion(char* local, char* latest);
    void GetMinorUpdateVersion(char* local, char* latest);

    // --- run control ---
    // 1 when the worker was started, 0 (error recorded) otherwise.
    int StartUpdate();
    // Thread procedure; arg is the module. Always returns 0.
    static unsigned UpdateWorkerThread(void* arg);
    // The run sequence; a run result (RUN_*). May run on any thread.
    int UpdateRun();
    // Signals the run's stop event: 1 when none was installed, else 0.
    // Also lifts every suspension of the worker, which could otherwise never
    // reach the check that sees the stop (and the host waits for it).
    int CloseThread();
    // The worker holds at its next check: before each download block, zip
    // entry, applied file or pack entry, each step of a pack data move, and
    // between the steps of the run. Nothing of a held step is lost; a held
    // download keeps its connection, and asks for the rest if the server
    // drops it meanwhile. Counted as on Win32: each resume undoes one
    // suspend.
    void SuspendManualUpdate();
    void ResumeManualUpdate();
    void StopManualUpdate();
    int CheckOnlyVersion();
    // --- installation check ---
    // Starts the worker on a check of the installation against the patch
    // root's manifest instead of an update; with repair nonzero it then puts
    // back what is missing or damaged from the full archive. Runs and ends
    // like StartUpdate (IsClosedThread, CloseThread stops it); raises
    // notifications 18 and 19, then 20 at its end. 1 started.
    int StartInstallCheck(int repair);
    // Once the worker has ended: the check's result (CHECK_*) and what it
    // found, in the manifest's order.
    int GetCheckResult() const { return m_nCheckResult; }
    const std::vector<InstallFinding>& GetCheckFindings() const { return m_CheckFindings; }

    // --- start-up checks and the game start ---
    // 1 = the update may start; 0 = a check failed (error recorded).
    int CheckCommandLine();
    // Nonzero when the portal launcher was started. Started through Wine,
    // it runs in the Wine prefix the type file names, when it names one.
    int ExecuteProgram();
    // The working line of CheckCommandLine: a non-empty PARAM wins and gets
    // the process's own arguments appended after one blank only when they
    // are non-empty and do not begin with a blank (so arguments that follow
    // a normally quoted program path are not used); an empty PARAM gives
    // the process's own arguments.
    static std::string MergeCommandLine(const std::string& param, const std::string& ownArgs);
    // What a word of the command line is to CheckCommandLine: an option
    // alone (OPTION_FLAG), one taking the next word as its value
    // (OPTION_VALUE) or one taking the rest of the line (OPTION_REST), or
    // no option at all (OPTION_NONE, ignored). Lets a host tell its own
    // words apart from the launcher's without a second option table.
    enum OptionKind { OPTION_NONE, OPTION_FLAG, OPTION_VALUE, OPTION_REST };
    static OptionKind OptionKindOf(const std::string& word);
    // Writes one formatted line (2 KB at most) to the update log.
    void SaveUpdateLog(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // --- launcher self-update ---
    // 1 when this process is to become another launcher program: the run
    // found a newer launcher and unpacked it (it ended with notification
    // 17, NOTIFY_LAUNCHER_HANDOVER), or "-copy" put the new launcher's
    // files in place (CheckCommandLine returned 1; start no update then).
    static int IsLauncherHandOver();
    // Becomes that program, in this same process (id, process group,
    // terminal and exit status carry over). Call on the host's thread once
    // the worker has ended and the host has closed its windows; the module
    // may already be deleted. Returns only on failure: 0, with the error
    // recorded (custom code 203, or 202 after the copy step) and its text
    // in *error when error is not null.
    static int ExecuteLauncherHandOver(std::string* error = nullptr);

    // --- DirectX check ---
    // 1 when the DirectX the game will find is at least required ("9.0c");
    // else 0 with the reason recorded as the last error (custom codes
    // 1400-1403). The game runs through Wine: the libraries read are those
    // of its Wine prefix, and a prefix Wine has not set up yet passes (Wine
    // sets it up with its own DirectX on the first start). Shows nothing.
    int CheckDXVersion(const char* required);
    // The same check for a host that shows its findings: records nothing
    // (so it may run beside an update). Returns what CheckDXVersion would
    // and fills the installed version as text (10 characters; "" when none
    // was found), the Wine prefix (260; "" when none could be named) and
    // the directory whose libraries were read (260; "" when there was
    // none, as for a prefix not set up yet). Null outputs are skipped.
    int InspectDXVersion(const char* required, char* installed, char* winePrefix, char* directory);

    // --- launcher type file ---
    // [SETUP] LIVESERVERUPDATE of the plain copy (1 when missing).
    int IsLiveServerUpdate();
    // Writes the notice page address (at most 259 characters) into url;
    // second is not used.
    void GetNoticeURL(char* url, char* second);

    // Built-in notice page of the live service.
    static constexpr const char* kDefaultNoticeURL =
        "https://www.varn-online.jp/launcher/notice.html";

protected:
    // Decodes type.uvf and lets the three updater objects read their keys.
    // 1 when applied, 0 when the file could not be decoded.
    int LoadTypeFile();
    // 1 when a matching process other than this one was found: another
    // launcher of this game directory (unless skipLauncher) or the game.
    // With kill, only processes whose program lies in the game directory
    // are matched (and ended): never one of another installation.
    int CheckProcess(int kill, int skipLauncher);
    void KillProcess(unsigned long processId);
    // CheckCommandLine once the working line is known: the option walk,
    // the instance mutex and the game check. Same result.
    int ApplyCommandLine(const char* line);
    // Applies one recognised option; returns its forward form ("" when it
    // has none or did nothing).
    std::string ApplyOption(const std::string& option, const std::string& value);
    // The "-copy" hand-off: ends other launcher and game processes of the
    // target installation, then the engine's launcher copy (the copy's own
    // logs go to the target installation). Result of CheckCommandLine.
    int CopyHandOff(const std::string& targetDir);
    // Up to `attempts` process checks one second apart; 1 when the game
    // (and, unless skipLauncher, another launcher) is gone, else 0 with the
    // error recorded and notification 14 sent.
    int WaitForGameExit(int attempts, int skipLauncher);
    // Stable per game directory, so a second launcher of the same
    // installation finds the first one's lock.
    std::string InstanceMutexName() const;
    // [SETUP] WINEPREFIX of the type file's plain copy, made absolute from
    // the game directory; "" when the file names none.
    std::string ConfiguredWinePrefix() const;
    // The DirectX check's steps; what it found goes to the outputs
    // (installed: 10 characters).
    enum DxVerdict { DX_ACCEPTED, DX_PREFIX_PENDING, DX_DETECT_FAILED, DX_NOT_FOUND, DX_TOO_OLD };
    DxVerdict RunDXCheck(const char* required, char* installed, std::string& winePrefix,
                         std::string& directory);

    plat::ThreadHandle m_hThread;
    uint32_t m_dwThreadId = 0;
    std::unique_ptr<plat::NamedMutex> m_pMutex;
    char m_szParentProgramName[260] = {};
    std::atomic<int> m_nClosed{1};
    plat::ResourceHandle m_hResource = nullptr;
    eSERVICE_TYPE m_eServiceType = SERVICE_TYPE_DEFAULT;
    int m_nCheckAuthKey = 1;
    char m_szMapGameName[100] = {};
    WindowHandle m_hTargetWnd = nullptr;
    int m_nKBT_USA = 0;
    // 0: the worker updates; 1 checks, 2 checks and repairs.
    int m_nCheckMode = 0;
    int m_nCheckResult = CHECK_FAILED;
    std::vector<InstallFinding> m_CheckFindings;
};

// The logging object the facade writes through.
extern CUpdaterBase g_UpdateLogger;
