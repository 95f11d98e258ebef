// The launcher's self-update: the version check, fetching and unpacking the
// new launcher, the copy step the new launcher runs, and the hand-over to
// the next program of the chain (old -> new copy -> installed launcher).
#include <cstdio>
#include <string>
#include <utility>

#include "base/CommandLineMask.h"
#include "engine/FileUpdater.h"
#include "engine/ResourceText.h"
#include "engine/StagedCopy.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/Thread.h"

namespace {

constexpr const char* kLocalArchive = "LAUNCHER.lbc";
constexpr const char* kLauncherDir = "LAUNCHER";
constexpr const char* kClientList = "clientlist.uvf";
constexpr int kCopyAttempts = 3;
constexpr uint32_t kCopyRetryMs = 1000;
// More names than any launcher ships: a list claiming more is damaged.
constexpr int kMaxListedFiles = 10000;

// The part of a parameter line before its first "-copy" word, so that the
// hand-over line carries exactly one (a path holding "-copy" is no cut).
std::string CutAtCopyOption(const std::string& line) {
    for (size_t pos = line.find(" -copy"); pos != std::string::npos;
         pos = line.find(" -copy", pos + 1)) {
        const size_t end = pos + 6;
        if (end == line.size() || line[end] == ' ') {
            return line.substr(0, pos);
        }
    }
    return line;
}

}  // namespace

void CFileUpdater::SetArguments(const char* text) {
    CopyText(m_szArguments, sizeof(m_szArguments), text);
}

int CFileUpdater::CheckLauncherVersion(const char* updateFilePath) {
    CUpdateVersion published;
    published.SetPath(updateFilePath);
    if (!published.LoadUpdateVersion())
        return 0;
    CopyPublishedState(published);

    int same = 0;
    const int ownGreater = CompareVersion(m_szLauncherVersion, m_szNewLauncherVersion, &same);
    if (same) {
        UpdateLog("CheckLauncherVersion Local Version(%s) And Latest Version(%s)\n",
                  m_szLauncherVersion, m_szNewLauncherVersion);
        UserLog("CheckLauncherVersion Local Version(%s) And Latest Version(%s) \n",
                m_szLauncherVersion, m_szNewLauncherVersion);
        return 1;
    }
    if (ownGreater) {
        UpdateLog("CheckLauncherVersion Local Version(%s) is higher than Latest Version(%s)\n",
                  m_szLauncherVersion, m_szNewLauncherVersion);
        return 1;
    }
    UpdateLog("CheckLauncherVersion Local Version(%s) is lower than Latest Version(%s)\n",
              m_szLauncherVersion, m_szNewLauncherVersion);
    if (m_nLauncherReplaced) {
        // The archive just installed held an older launcher: fetching it
        // again would hand over for ever.
        UpdateLog("CheckLauncherVersion Launcher already updated in this start; not again\n");
        RecordStringError(0, IDS_LAUNCHER_STILL_OLD, kStringBuffer, CUSTOM_ERROR_LAUNCHER_STILL_OLD,
                          {m_szLauncherVersion, m_szNewLauncherVersion});
        return 0;
    }
    char remote[260];
    std::snprintf(remote, sizeof(remote), "LAUNCHER/LAUNCHER_%s.%s", m_szNewLauncherVersion, "lbc");
    m_nUpdateKind = UPDATE_LAUNCHER_VERSION;
    // The options this launcher applied go on, as the command-line handling
    // rebuilt them; words of no meaning to a launcher are left behind.
    SetArguments(m_szForwardOptions);
    LauncherPatch(remote);
    return 0;
}

void CFileUpdater::LauncherPatch(const char* remoteName) {
    const std::string archive = plat::JoinPath(m_szUpdatePath, kLocalArchive);
    const std::string dir = plat::JoinPath(m_szUpdatePath, kLauncherDir);
    // Left over from an attempt that was given up: its files must not mix
    // with the new launcher's.
    if (plat::FileExists(dir))
        plat::DeleteTree(dir);
    plat::CreateDirectoryChain(dir);
    PatchLog("Launcher Patch Local Version %s FTP Path %s\n", m_szLauncherVersion, remoteName);
    if (m_pProtocol && !m_pProtocol->GetStopEvent())
        InstallStopEvent();

    if (!m_pProtocol || !FetchFile(remoteName, archive.c_str()) ||
        !CheckArchiveDigest(remoteName, archive.c_str())) {
        UpdateLog("Failed Update Client Patch\n");
        PatchLog("Failed Update Client Patch %s->%s\n", remoteName, archive.c_str());
        plat::DeleteTree(dir);
        if (!StopSignalled())
            SendLogMail();
        return;
    }
    if (!ExtractFile(archive.c_str(), dir.c_str(), 0, 0, 1)) {
        PatchLog("Extract failed %s->%s\n", archive.c_str(), dir.c_str());
        // Nothing of a launcher that did not unpack whole is ever started.
        plat::DeleteTree(dir);
        if (!StopSignalled())
            SendLogMail();
        return;
    }
    plat::DeleteFile(archive);

    if (m_szArguments[0] == '\0') {
        char param[260] = "";
        const std::string config = plat::JoinPath(m_szDefaultPath, "config.ini");
        plat::GetPrivateProfileString("COMMON", "PARAM", "", param, sizeof(param), config.c_str());
        if (param[0] != '\0')
            SetArguments(CutAtCopyOption(param).c_str());
    }
    HandOver next;
    next.program = plat::JoinPath(dir, m_szExeName);
    next.args = plat::SplitCommandLine(m_szArguments);
    next.args.push_back("-copy");
    next.args.push_back(std::string("/") + m_szDefaultPath);
    next.command =
        MaskPasswordOption(next.program + " " + m_szArguments + " -copy /" + m_szDefaultPath);
    UpdateLog("UpdateCommand %s\n", next.command.c_str());
    if (!PrepareHandOver(std::move(next)) && !StopSignalled())
        SendLogMail();
}

int CFileUpdater::CopyLauncher(const char* sourceDir, const char* targetDir) {
    UpdateLog("CopyLauncher ModuleName %s UpdatePath %s\n", sourceDir, targetDir);
    const std::string list = plat::JoinPath(sourceDir, kClientList);
    const std::string plain = plat::JoinPath(plat::GetPrivateTempDir(), kClientList);
    if (!DecodeFile(list.c_str(), plain.c_str())) {
        const std::string text = LoadFormattedString(ResourceHandle(), IDS_CLIENTLIST_DECODE, 1024,
                                                     {list.c_str(), plain.c_str()});
        UpdateLog("[%s]\n", text.c_str());
        SetLastErrorMsg(ERROR_KIND_CUSTOM, static_cast<int>(plat::GetLastError()), text.c_str(),
                        CUSTOM_ERROR_CLIENTLIST_DECODE);
        return 0;
    }
    int count = plat::GetPrivateProfileInt("SETUP", "FILECOUNT", 0, plain.c_str());
    if (count < 0 || count > kMaxListedFiles)
        count = 0;

    CStagedCopy copy;
    std::vector<std::string> names;
    bool ok = true;
    uint32_t error = 0;
    for (int i = 0; i < count; ++i) {
        char key[16];
        char name[260] = "";
        std::snprintf(key, sizeof(key), "FILE%d", i);
        plat::GetPrivateProfileString("SETUP", key, "", name, sizeof(name), plain.c_str());
        if (!plat::IsSafeRelativeName(name)) {
            // An empty, absolute or climbing name would write outside the
            // installation.
            UpdateLog("%s Patch Failed unsafe name\n", name);
            PatchLog("%s Patch Failed unsafe name\n", name);
            ok = false;
            continue;
        }
        const std::string source = plat::JoinDataPath(sourceDir, name);
        const std::string target = plat::JoinDataPath(targetDir, name);
        int attempt = 0;
        for (; attempt < kCopyAttempts; ++attempt) {
            if (copy.Stage(source, target))
                break;
            error = plat::GetLastError();
            UpdateLog("%s Patch Failed ErrorCode %d\n", name, static_cast<int>(error));
            PatchLog("%s Patch Failed ErrorCode %d\n", name, static_cast<int>(error));
            plat::Sleep(kCopyRetryMs);
        }
        if (attempt == kCopyAttempts) {
            UpdateLog("%s Patch Failed 3 times\n", name);
            PatchLog("%s Patch Failed 3 times\n", name);
            ok = false;
            continue;
        }
        names.push_back(name);
    }
    if (ok && !copy.Commit()) {
        error = plat::GetLastError();
        UpdateLog("CopyLauncher commit failed ErrorCode %d; installed launcher kept\n",
                  static_cast<int>(error));
        ok = false;
    }
    if (!ok) {
        copy.Abandon();
        RecordStringError(static_cast<int>(error), IDS_LAUNCHER_COPY, kStringBuffer,
                          CUSTOM_ERROR_LAUNCHER_COPY);
        return 0;
    }
    for (const std::string& name : names) {
        UpdateLog("%s Patch Success\n", name.c_str());
        PatchLog("%s Patch Success\n", name.c_str());
    }

    HandOver next;
    next.restart = true;
    next.program = plat::JoinPath(targetDir, m_szExeName);
    next.args = plat::SplitCommandLine(m_szArguments);
    next.args.push_back("-checked");
    next.args.push_back(sourceDir);
    next.command = MaskPasswordOption(
        next.program + (m_szArguments[0] != '\0' ? std::string(" ") + m_szArguments : "") +
        " -checked " + sourceDir);
    return PrepareHandOver(std::move(next));
}

int CFileUpdater::PrepareHandOver(HandOver handOver) {
    if (!plat::IsExecutableFile(handOver.program)) {
        RecordStartFailure(handOver, plat::GetLastError());
        return 0;
    }
    // The instance lock goes with this process's program: the successor
    // takes it afresh (the lock is not inherited across the hand-over).
    m_HandOver = std::move(handOver);
    m_bHandOver.store(true, std::memory_order_release);
    return 1;
}

void CFileUpdater::RecordStartFailure(const HandOver& handOver, uint32_t error) {
    if (handOver.restart) {
        UpdateLog("Couldn't execute %s\n", handOver.command.c_str());
        PatchLog("Couldn't execute %s\n", handOver.command.c_str());
        RecordStringError(static_cast<int>(error), IDS_LAUNCHER_RESTART, kStringBuffer,
                          CUSTOM_ERROR_LAUNCHER_RESTART);
        return;
    }
    UpdateLog("Couldn't exeute %s\n", handOver.command.c_str());
    PatchLog("Couldn't exeute %s\n", handOver.command.c_str());
    // Recorded before the log mail goes, so that the mail carries it.
    RecordStringError(static_cast<int>(error), IDS_LAUNCHER_RUN_FOR_COPY, kStringBuffer,
                      CUSTOM_ERROR_LAUNCHER_RUN_FOR_COPY);
    UserLog("ERROR_LAUNCHER_RUN_FOR_COPY_FAIL(%s) \n", GetLastErrorMessage());
}

int CFileUpdater::ExecuteHandOver() {
    if (!m_bHandOver.load(std::memory_order_acquire))
        return 0;
    const HandOver next = m_HandOver;
    plat::ExecProgram(next.program, next.args);
    m_bHandOver.store(false, std::memory_order_release);
    RecordStartFailure(next, plat::GetLastError());
    if (!next.restart)
        SendLogMail();
    return 0;
}
