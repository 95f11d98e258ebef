// CFileUpdater: the patch engine. One process-wide object, g_FileUpdater,
// used by the update worker thread (and CheckOnlyVersion on its caller's
// thread). It owns the transfer object and, later, the pack objects.
//
// The class is split across files by concern:
//   FileUpdater.cpp          construction, settings, connection, stop request
//   FileUpdaterVersion.cpp   version comparison and the update decision
//   FileUpdaterPlan.cpp      the download plan
//   FileUpdaterRun.cpp       the patch run (update.uvf, archives, manual archive)
//   FileUpdaterApply.cpp     applying a file list
//   FileUpdaterLauncher.cpp  the launcher version check and self-update
//   FileUpdaterPack.cpp      the pack update
//   FileUpdaterRoots.cpp     further patch roots (mirrors), transfer settings
//   FileUpdaterSigned.cpp    signed patch roots
//   FileUpdaterCheck.cpp     checking and repairing an installation
#pragma once
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/FileHash.h"
#include "archive/RootManifest.h"
#include "archive/Sha256.h"
#include "archive/Signature.h"
#include "base/UpdaterBase.h"
#include "engine/ClosingTicker.h"
#include "engine/InstallCheck.h"
#include "engine/UpdateVersion.h"
#include "engine/VersionFileLayout.h"
#include "pack/PackFile.h"
#include "platform/Event.h"
#include "platform/Process.h"
#include "platform/Resource.h"
#include "transfer/ProtocolUpdater.h"

class CFileUpdater : public CUpdaterBase {
public:
    // Makes the executable's directory current and creates "<dir>/Update".
    CFileUpdater();
    ~CFileUpdater() override;
    CFileUpdater(const CFileUpdater&) = delete;
    CFileUpdater& operator=(const CFileUpdater&) = delete;

    // Engine keys of the plain type file ([SETUP] TYPE, SERVICEFTP, TESTFTP,
    // ADDRESS, PORT, USER, PASS). Returns 1.
    int LoadSettings(const char* iniPath) override;

    // --- configuration (window thread, before a run) ---
    // Discards the transfer object, creates HTTP (useFtp 0) or FTP, and hands
    // it the first seven arguments.
    void SetConnectInfo(const char* address, int port, const char* user, const char* password,
                        const char* servicePath, const char* testPath, unsigned char launcherType,
                        int useFtp);
    // The same with the protocol named (HTTPS included).
    void SetConnectRoot(const PatchServerRoot& root, unsigned char launcherType);
    // SetConnectInfo and SetConnectRoot: a new transfer object for protocol.
    void ReplaceProtocol(TransferProtocol protocol, const char* address, int port, const char* user,
                         const char* password, const char* servicePath, const char* testPath,
                         unsigned char launcherType);
    // Roots to go on from, in order, when the current one fails during a run
    // (cannot be connected, times out, answers with a server error 5xx). A
    // run never goes back to a root it left.
    void SetMirrorRoots(std::vector<PatchServerRoot> roots);
    unsigned char RootLauncherType() const { return m_nRootLauncherType; }
    // Settings for every transfer object of the run, the current one included.
    void SetTransferOptions(const TransferOptions& options);
    // The transfer object, or nullptr when none was configured.
    CProtocolUpdater* GetProtocol() { return m_pProtocol.get(); }
    // Connects the transfer object, going on to the next mirror root while
    // one fails. 1 connected; 0 when no root could be (last error recorded).
    int ConnectPatchServer();
    // DownloadFile (continuing: ResumeFile) from the current root, going on
    // to the next mirror root and trying again after a failure that is the
    // server's or the network's rather than the publisher's (a 404 is not).
    int FetchFile(const char* remoteName, const char* localPath, bool continuing = false);
    // Base directory = dir; update directory "<dir>/Update" (created).
    void SetUpdatePath(const char* dir);
    void SetLauncherVersion(const char* version);
    void SetLauncherPath(const char* path);   // logs, then the transfer's
    void SetLauncherType(unsigned int type);  // the transfer's, with log
    // Whether a full update that becomes necessary after an archive has been
    // applied may go ahead (otherwise the run ends with 6). The first
    // decision of a run, a full update included, is always carried out.
    void SetFullVersionDownload(int allow) { m_nFullVersionDownload = allow; }
    void SetUpdateManualVersion(const char* gameDirectory, const char* archiveBaseName,
                                const char* hashText, int fileCount, double archiveSize,
                                double unpackedSize);
    bool IsManualMode() const { return m_bManualMode; }
    void SetKBT_USA(int on) { m_nKBT_USA = on; }
    void SetLoop(int on) { m_nLoop = on; }
    int IsLoop() const { return m_nLoop; }
    void SetGetLast(int on) { m_nGetLast = on; }
    // "-updateversion": manual version text and flag.
    void SetManualVersion(const char* version);
    void SetManualVersionFlag(int on) { m_nManualVersion = on; }
    void SetInstanceMutex(plat::NamedMutex* mutex) { m_pInstanceMutex = mutex; }
    // The forwarded-option string (" -type s -loop ...").
    char* ForwardOptions() { return m_szForwardOptions; }
    // Clears the decision state (both version records).
    void ClearVersionRecords();

    // --- the run (worker thread) ---
    // Fetches update.uvf into the update directory; nonzero on success.
    int DownLoadUpdateFile();
    // 0 = the launcher is being replaced (HasHandOver), or it cannot be
    // (update.uvf unreadable, the launcher archive not fetched or unpacked,
    // the new launcher not startable, or this launcher was just updated and
    // is still older: error recorded); else 1.
    int CheckLauncherVersion(const char* updateFilePath);
    // Fetches and unpacks the launcher archive remoteName into
    // "<update>/LAUNCHER" and makes the new launcher there the successor,
    // with the arguments and "-copy /<game directory>".
    void LauncherPatch(const char* remoteName);
    // "-copy": replaces the files clientlist.uvf of sourceDir names in
    // targetDir, all or none, and makes the launcher in targetDir the
    // successor, with the arguments and "-checked <sourceDir>". 1 / 0
    // (error recorded, custom codes 200-202; nothing replaced).
    int CopyLauncher(const char* sourceDir, const char* targetDir);
    // The options the next launcher is started with, as a command line
    // (cut to 259 characters).
    void SetArguments(const char* text);
    const char* Arguments() const { return m_szArguments; }
    // "-checked": this launcher was started by a launcher update. A
    // published launcher that is still newer is then refused rather than
    // fetched again, which could go on for ever.
    void SetLauncherReplaced(int on) { m_nLauncherReplaced = on; }
    // True once LauncherPatch or CopyLauncher has named a successor.
    bool HasHandOver() const { return m_bHandOver.load(std::memory_order_acquire); }
    // Becomes the successor (the same process, see plat::ExecProgram).
    // Call once no worker runs. Returns only on failure: 0, with error 203
    // (or 202 after the copy step) recorded; the hand-over is then dropped.
    int ExecuteHandOver();
    // 0 = an update is needed (kind set; a missing version.uvf means a full
    // update), 1 = up to date or update.uvf unreadable (kind left alone, so
    // no patch starts from a stale decision).
    int CheckUpdateListVersion();
    // The patch loop; a run result.
    int UpdateProcess();
    // The manual path of SetUpdateManualVersion; a run result.
    int ApplyManualArchive();
    // 0 update needed, 1 up to date, 2 a version file unreadable,
    // 3 no connection, 4 update.uvf not downloaded. Any thread (no run active).
    int CheckOnlyVersion();

    // --- download plan (FileUpdaterPlan.cpp), worker thread ---
    // Fetches versionlist.uvf and sums the planned archives into the progress
    // record: 1 ready, 4 versionlist.uvf not fetched, 6 a full update with no
    // full archive offered.
    int PrepareDownloadPlan();
    // Sums the archives of the current kind from versionlist.uvf, starting
    // at localVersion; may switch the kind to a full update when the chain
    // is bigger than the full archive. 1 / 0 (full update, none offered).
    int GetVersionFileInformation(UPDATE_CALLBACK_INFO* info, const char* localVersion,
                                  uint64_t* downloadSize, int* fileCount);
    // Names the next archive (base name). 1 named (or the list ended early
    // at an empty entry: base name unchanged), 0 none leads on (error 2006).
    int SetFtpVersionFileName();
    // "%.2f Byte/KB/MB/GB" of a size, into out.
    static void FormatDownloadSize(uint64_t size, char* out, size_t outSize);
    const char* ArchiveBaseName() const { return m_szUpdateFileName; }

    // --- one archive (FileUpdaterRun.cpp), worker thread ---
    // Fetch (or reuse), verify, unpack and apply the named archive. 1 / 0.
    int PatchOneArchive();
    // 1 when the file exists with the expected size and fingerprint.
    int DownloadCheck(const char* path, const char* expectedHash, uint32_t expectedSize);
    // 1 when the file exists and (expectedSize 0 or) its low 32 bits of size match.
    int ExistUpdateFile(const char* path, uint32_t expectedSize);
    // Unpacks an archive into outdir (emptied first unless it is the game
    // directory) with progress and the stop test; 1 / 0 (error recorded).
    int ExtractFile(const char* archive, const char* outdir, int count, int deleteAfter,
                    int countFromArchive);

    // --- applying a file list (FileUpdaterApply.cpp), worker thread ---
    // Applies "<update>/<base name>/filelist.uvf". 1 all applied / 0.
    int UpdateVersionFile();
    int NormalFileUpdate(const UpdateFileEntry* entry);
    int ConfigFileUpdate(const UpdateFileEntry* entry);
    // Creates each missing level of a "\"-separated directory below the game
    // directory; failures are ignored (the copy reports them).
    void MakeDirectoryChain(const char* relativeDir);
    // Signals, closes and uninstalls the transfer's stop event. Returns 1 when
    // none was installed, else 0. Safe from any thread.
    int StopRequest();

    // --- pack entries (worker thread; FileUpdaterPack.cpp) ---
    // Moves one type-3 entry of the file list from the patch's pack into the
    // installed pack. 1 when the file is now in the installed pack, else 0
    // (last error recorded, codes 1200-1210).
    int PackFileUpdate(UpdateFileEntry* entry);
    // Splits an entry name into the pack path (up to and including the first
    // component ending in ".lpk") and the inner path; both buffers hold 260.
    static void GetPackFileName(const char* fileName, char* packPath, char* innerPath);
    // Closes both pack objects, committing the installed one (with the
    // closing ticker). 1 on success. Call before version.uvf advances, so an
    // advanced version never stands for pack changes that were not written.
    int ClosePackFiles();

    // --- signed roots (worker thread; FileUpdaterSigned.cpp) ---
    // The public key file in the update directory (64 hexadecimal digits).
    static constexpr const char* kPublisherKeyName = "publisher.key";
    // Takes the publisher's key (built in, else the key file) for the coming
    // run and forgets any manifest. 1; 0 when a key file is there but is no
    // key (error 1500 recorded: the run must not go on unchecked).
    int LoadPublisherKey();
    bool HasPublisherKey() const { return m_PublisherKey.Loaded(); }
    // FetchFile, and with a key also "<remote>.sig", which must sign the
    // file; otherwise the local file is deleted and error 1500 recorded. 1 / 0.
    int FetchRootFile(const char* remoteName, const char* localPath);
    // Fetches (once a run) and reads the root's signed manifest.uvf. 1 / 0.
    int FetchRootManifest();
    const CRootManifest& RootManifest() const { return m_RootManifest; }
    // With a key: the SHA-256 of the local archive must be the manifest's
    // for remoteName; otherwise the archive is deleted and error 1501
    // recorded. Without a key: 1.
    int CheckArchiveDigest(const char* remoteName, const char* localPath);

    // --- installation check (worker thread; FileUpdaterCheck.cpp) ---
    // Connects, reads the root's manifest (signed when a key is present) and
    // checks every listed file of the installation (which must be at the
    // manifest's version), raising notification 18 after each; with repair,
    // puts back what is missing or damaged from the full archive
    // (notification 19 after each). *findings: what was found (and
    // repaired). A CHECK_* result; failures are recorded as the last error.
    int CheckInstallation(bool repair, std::vector<InstallFinding>* findings);

    // --- version comparison (pure) ---
    static void ParseVersion(const char* text, int out[4]);
    static int LetterValue(const char* piece);
    // 1 when a > b; same = 1 only when all four fields are equal.
    static int CompareVersion(const char* a, const char* b, int* same);

    // --- decision state, read by the module's getters ---
    int GetUpdateKind() const { return m_nUpdateKind; }
    const char* LocalVersion() const { return m_szLocalVersion; }
    const char* LocalMinorVersion() const { return m_szLocalMinorVersion; }
    const char* TargetVersion() const { return m_szTargetVersion; }
    const char* LatestVersion() const { return m_szLatestVersion; }
    const char* NewMinorVersion() const { return m_szNewMinorVersion; }
    const char* NewLauncherVersion() const { return m_szNewLauncherVersion; }
    const char* LauncherVersion() const { return m_szLauncherVersion; }

    // Server settings for CheckOnlyVersion, from the type file.
    char m_szServerAddress[260] = {};
    int m_nServerPort = 0;
    char m_szServerUser[260] = {};
    char m_szServerPass[260] = {};
    char m_szServiceFtp[260] = {};
    char m_szTestFtp[260] = {};

protected:
    // With the get-last flag: local version := published primary, else end
    // version; otherwise the manual version when one is set.
    void GetLastVersion();
    // Steps of CheckUpdateListVersion / CheckOnlyVersion (FileUpdaterVersion.cpp).
    // Takes the published (update.uvf) fields into the decision state.
    void CopyPublishedState(const CUpdateVersion& published);
    void CopyLocalState();
    int DecideUpdate();
    int DecideMinorUpdate();
    int CompareOnly();
    // Installs a fresh stop event on the transfer object; returns it.
    // Any event still installed is released first. Without a transfer object
    // the new event is returned but installed nowhere.
    plat::EventHandle InstallStopEvent();
    // Signals, closes and uninstalls the installed stop event, if any.
    // Returns 0 when one was installed, 1 when none was.
    int ReleaseStopEvent();
    // Copies src into a fixed field, cut to size-1 characters, terminated.
    static void CopyText(char* dst, size_t size, const char* src);

    std::unique_ptr<CProtocolUpdater> m_pProtocol;
    std::vector<PatchServerRoot> m_mirrors;  // roots still to go on from
    size_t m_nNextMirror = 0;
    unsigned char m_nRootLauncherType = 0;
    TransferOptions m_transferOptions;
    // Makes get-signal-close-uninstall of the stop event one step, so that a
    // StopRequest from the window thread cannot uninstall an event the
    // worker installed after the one it signalled.
    plat::CriticalSection m_StopLock;
    CUpdateVersion m_UpdateVersion;  // update.uvf / version.uvf / filelist.uvf reader

    int m_nUpdateKind = UPDATE_NONE;
    int m_nFullVersionDownload = 0;
    int m_nKBT_USA = 0;
    int m_nLoop = 0;
    int m_nGetLast = 0;
    int m_nManualVersion = 0;
    char m_szManualVersion[20] = {};
    char m_szForwardOptions[260] = {};
    plat::NamedMutex* m_pInstanceMutex = nullptr;

    // Launcher self-update (FileUpdaterLauncher.cpp).
    struct HandOver {
        std::string program;
        std::vector<std::string> args;
        std::string command;   // as logged, password masked
        bool restart = false;  // the installed launcher after the copy step
    };
    char m_szArguments[260] = {};
    int m_nLauncherReplaced = 0;
    HandOver m_HandOver;
    std::atomic<bool> m_bHandOver{false};
    // Names the successor when program can be started; otherwise logs and
    // records the start failure of its kind. 1 / 0.
    int PrepareHandOver(HandOver handOver);
    void RecordStartFailure(const HandOver& handOver, uint32_t error);

    // Pack objects of PackFileUpdate; kept open across entries of one pack.
    CPackFile m_Packfile;      // the installed pack
    CPackFile m_TempPackfile;  // the patch's copy of the same pack
    // Steps of PackFileUpdate (FileUpdaterPack.cpp). The openers return 1
    // when the pack object is open on the path; CopyOutOfPatchPack copies a
    // small entry into *memory, a larger one into the scratch file, and
    // leaves its fingerprint in m_FileHash (VerifyScratch compares it); it
    // returns 1 copied, 0 failed after the copy began, -1 failed before.
    int PackFileUpdateSteps(UpdateFileEntry* entry);
    int OpenInstalledPack(const char* packFilePath, const char* packPath);
    int OpenPatchPack(const char* tempPackPath);
    int CopyOutOfPatchPack(const UpdateFileEntry* entry, const char* innerPath,
                           const char* scratchPath, std::string* memory);
    void RecordScratchWriteFailure(const char* scratchPath);
    int VerifyScratch(const UpdateFileEntry* entry, const char* scratchPath);
    // Closing ticker (FileUpdaterApply.cpp): start before closing a pack,
    // stop (clears the active flag) after the close.
    void StartClosingTicker();
    void StopClosingTicker();

    // Manual archive (SetUpdateManualVersion).
    bool m_bManualMode = false;
    char m_szManualArchive[260] = {};
    char m_szManualHash[41] = {};
    int m_nManualFileCount = 0;
    double m_dManualArchiveSize = 0;
    double m_dManualUnpackedSize = 0;

    // Decision state.
    char m_szNewUpdateName[30] = {};
    char m_szTargetVersion[20] = {};
    char m_szNewLauncherVersion[20] = {};
    char m_szNewMinorVersion[20] = {};
    char m_szLatestVersion[20] = {};
    char m_szPrimaryVersion[20] = {};
    char m_szEndVersion[20] = {};
    char m_szLocalUpdateName[30] = {};
    char m_szLocalVersion[20] = {};
    char m_szLocalMinorVersion[20] = {};
    char m_szLocalLatestVersion[20] = {};
    char m_szLocalPrimaryVersion[20] = {};
    char m_szLocalEndVersion[20] = {};
    char m_szExecutePath[260] = {};
    char m_szLauncherVersion[20] = {};  // this launcher's own version

    // Plan and step (FileUpdaterPlan/Run/Apply.cpp).
    char m_szUpdateFileName[260] = {};  // archive base name
    char m_szUnpackPath[260] = {};      // unpack directory of the current archive
    bool m_bArchiveNamed = false;       // SetFtpVersionFileName wrote a new name
    CFileHash m_FileHash;
    CPublisherKey m_PublisherKey;  // not loaded: the root is not checked
    CRootManifest m_RootManifest;
    bool m_bManifestLoaded = false;
    bool m_bRootFileRefused = false;  // the last FetchRootFile failed the signature
    int CheckSteps(bool repair, std::vector<InstallFinding>* findings);
    // true when every finding that needs it was repaired.
    bool RepairFindings(std::vector<InstallFinding>* findings);
    // Records a kind-1 last error whose text is string id formatted with args.
    void RecordStringError(int errorCode, unsigned stringId, int bufferSize, int customCode,
                           std::initializer_list<const char*> args = {});
    plat::ResourceHandle ResourceHandle();
    // True once the run's stop event is signalled, closed or removed; false
    // when there is no transfer object at all (nothing can stop the run).
    // Each call is also where a suspended worker is held (before the test).
    bool StopSignalled();
    std::string VersionListPath() const;
    // Copies filelist.uvf of the unpacked archive over version.uvf (one retry
    // after clearing a read-only target). 1 / 0 with the last error recorded.
    int ReplaceVersionFile(bool logCopy);
    // Downloads the named archive, with one reconnect and retry when an FTP
    // server closed its control connection (reply 421). continuing: a partial
    // archive of an earlier run is continued. 1 / 0 (recorded).
    int DownloadArchive(const char* archivePath, bool continuing = false);
    // Downloads an archive and checks it; a continued one that fails the
    // check is deleted and fetched once more from its start. 1 / 0 (recorded).
    int FetchCheckedArchive(const char* archivePath, const char* guid, uint64_t fileSize);
    // Whether the last failed transfer is a reason to leave the root.
    bool RootFailed();
    // Replaces the transfer object by one for the next mirror root that
    // connects, keeping the stop event, log settings and options. false
    // when none is left (or, stoppable, the run is stopping).
    bool SwitchRoot(const char* why, bool stoppable);
    // One list entry by its update type; 1 applied or passed over, 0 failed.
    int ApplyEntry(const UpdateFileEntry* entry);
    // The second chance of NormalFileUpdate after the first copy failed with
    // error; records the matching last error when it fails again.
    int RetryFileCopy(uint32_t error, const std::string& source, const std::string& target,
                      bool keepSource);
    // Of the list being applied: for each unpacked file (by SourceKey), the
    // last entry that reads it; an earlier entry copies it, the last one may
    // move it. And the directories written, flushed before version.uvf
    // advances.
    std::unordered_map<std::string, const UpdateFileEntry*> m_lastSourceUse;
    std::set<std::string> m_appliedDirs;
    void NoteSourceUses(const UpdateFileEntry* entries, uint32_t count);
    void SendClosingTick();
    CClosingTicker m_ClosingTicker{[this] { SendClosingTick(); }};
};

extern CFileUpdater g_FileUpdater;
