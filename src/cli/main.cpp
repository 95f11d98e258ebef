// varn-patch: the headless host of the update library. It lives in the game
// directory like the launcher, reads the patch server from version.ini,
// accepts the launcher's command line, runs one update on the library's
// worker thread and reports progress on the console.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/CheckReport.h"
#include "host/ExitCode.h"
#include "host/HostArgs.h"
#include "host/LanguageBundle.h"
#include "host/LauncherRules.h"
#include "host/PatchRoot.h"
#include "host/ProgressState.h"
#include "host/TransferSettings.h"
#include "host/VersionIni.h"
#include "platform/Console.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/Resource.h"
#include "platform/Thread.h"
#include "updatemodule/UpdateModule.h"

namespace {

constexpr const char* kUsage = R"(usage: varn-patch [--help] [launcher options]

Brings the game installed beside this program up to date from the patch
server named by version.ini [PATH] PatchRoot ("http://host[:port]/path",
"https://host[:port]/path" or "ftp://host[:port]/path"), like the launcher
does, without a window.

Own options:
  --help, -h          this text
  --max-rate=RATE     cap the download rate at RATE bytes per second; a K or
                      M suffix means KiB or MiB (--max-rate=512K); overrides
                      the settings below
  --verify            update nothing: check every file of the installation
                      (pack entries included) against the patch root's
                      manifest.uvf by size and SHA-256 and list what is
                      missing, damaged, or a changed configuration file
                      (which is never counted as damage); the game must be
                      at the root's latest version, with no minor version
  --repair            --verify, then put back exactly the missing and
                      damaged files from the root's full archive, fetching
                      only the parts of it they need (the whole archive
                      when the server does not serve ranges, or over FTP)

Transfer settings (all optional):
  version.ini [PATH] PatchRoot1 ... PatchRoot9
                      further roots, same syntax as PatchRoot; when a root
                      cannot be connected, times out or answers with a
                      server error (5xx), the run goes on from the next one
                      (a missing file, 404, is no reason to)
  version.ini [PATH] Proxy=URL
                      proxy for every connection; without it the
                      http_proxy, https_proxy, ftp_proxy and no_proxy
                      environment variables apply
  version.ini [PATH] CAFile=FILE
                      PEM file of a certificate authority to trust for
                      https roots (relative to the game directory)
  config.ini [COMMON] MaxDownloadRate=RATE, version.ini [PATH] MaxDownloadRate=RATE
                      download rate cap (config.ini's wins)
An interrupted archive download is continued where it stopped on the next
run; the archive's hash check decides whether it is kept.

Launcher options (also read from config.ini [COMMON] PARAM):
  -ip HOST  -port N  -user NAME  -pass WORD   patch server overrides
  -type s|t           service or test path
  -ftppath DIR        remote directory
  -updateversion V    update to version V     -getlast  latest version
  -savelog  -savepatchlog  -saveuserlog       switch logs on
  -nouself  -noauth  -loop  -name NAME
  -checked DIR        (after a launcher update) delete DIR in the game
                      directory; other launcher processes are not waited for

When the patch server offers a newer varn-patch, it is downloaded,
installed over this one, and the update goes on with it in this same
process: the exit status is that of the whole run.

Ctrl-C asks the update to stop and exits once it has.

Messages come from Resource_<Lang>.ini beside this program, chosen by
LC_ALL, LC_MESSAGES or LANG (Resource_Eng.ini for en_US.UTF-8) when that
bundle is there, else from Resource_Jpn.ini.

Exit status:
  0    the game is up to date (updated, or nothing to do)
  1    the update did not start (another launcher or the game is running,
       or a start-up check failed)
  2    unknown "--" option (this text is printed)
  3    the patch server could not be reached
  4    --verify: files are missing or damaged; --repair: some could not
       be repaired (they are listed)
  6    only a full installation can update this game
  7    the update failed (the error is printed), a newer varn-patch could
       not be installed among them
  130  stopped by Ctrl-C
)";

CProgressState g_state;

void OnUpdate(int32_t code, UPDATE_CALLBACK_INFO* info) {
    if (info != nullptr) {
        g_state.OnNotify(code, *info);
    }
}

// The patch server the run uses, for messages: PatchRoot as overridden by
// the launcher line the update library reads (config.ini PARAM and the
// arguments).
std::string ReadServerName(const PatchRoot& root) {
    const std::string ini = plat::JoinPath(plat::GetModuleDir(), "config.ini");
    char param[260] = "";
    plat::GetPrivateProfileString("COMMON", "PARAM", "", param, sizeof(param), ini.c_str());
    const std::string line = CUpdateModule::MergeCommandLine(param, plat::GetCommandLineArgs());
    return PatchServerName(root, plat::SplitCommandLine(line));
}

std::string Explain(int code, const std::string& error, const std::string& server) {
    return FailureText({code, error, server, plat::GetModuleDir()});
}

class CConsole {
public:
    CConsole() : m_live(plat::IsTerminal(1)) {}

    // Plain lines, or on a terminal the live line (errors still get a line
    // of their own above it).
    void Show(bool force) {
        for (const std::string& line : g_state.TakeLines()) {
            if (!m_live) {
                std::printf("%s\n", line.c_str());
            } else if (line.rfind("error", 0) == 0) {
                std::printf("\r\x1b[K%s\n", line.c_str());
                force = true;
            }
        }
        const unsigned long version = g_state.Version();
        if (m_live && (force || version != m_drawn)) {
            m_drawn = version;
            const size_t columns = static_cast<size_t>(plat::TerminalColumns(1));
            std::printf("\r%s\x1b[K", FormatProgressLine(g_state.Snapshot(), columns).c_str());
        }
        std::fflush(stdout);
    }
    void End() {
        Show(true);
        if (m_live) {
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    void Note(const char* text) {
        std::printf(m_live ? "\r\x1b[K%s\n" : "%s\n", text);
        std::fflush(stdout);
    }

private:
    bool m_live;
    unsigned long m_drawn = ~0ul;
};

int Fail(const char* what, const char* error, const std::string& server) {
    const std::string text = Explain(PATCH_EXIT_NOT_STARTED, error, server);
    std::fprintf(stderr, "varn-patch: %s: %s\n", what, text.c_str());
    return PATCH_EXIT_NOT_STARTED;
}

// Hands the process over to the launcher program the update library
// named (same process, same terminal); returns only when that failed.
int HandOver(std::unique_ptr<CUpdateModule>& module, const char* what) {
    std::printf("varn-patch: %s\n", what);
    module.reset();
    std::string error;
    CUpdateModule::ExecuteLauncherHandOver(&error);
    std::fprintf(stderr, "varn-patch: the new varn-patch could not be started: %s\n",
                 error.c_str());
    return PATCH_EXIT_FAILED;
}

int Stopped() {
    const std::string text = Explain(PATCH_EXIT_INTERRUPTED, "", "");
    std::fprintf(stderr, "varn-patch: %s\n", text.c_str());
    return PATCH_EXIT_INTERRUPTED;
}

// Waits for the worker, turning Ctrl-C into one stop request.
void WaitForRun(CUpdateModule& module, CConsole& console) {
    bool stopAsked = false;
    int ticks = 0;
    while (module.IsClosedThread() == 0) {
        if (!stopAsked && plat::InterruptRequested()) {
            stopAsked = true;
            if (!g_state.Finished()) {
                g_state.MarkInterrupted();
                console.Note("stopping: the update ends at the next block or file");
                module.CloseThread();
            }
        }
        // Redraw at least twice a second so the speed stays current.
        console.Show(++ticks % 5 == 0);
        plat::Sleep(100);
    }
    // Takes the engine's stop lock once more, after the worker's own last
    // use of it: everything the worker wrote is now visible here.
    module.CloseThread();
}

// --verify and --repair: the check on the worker, its findings, its code.
int RunCheck(CUpdateModule& module, bool repair, const std::string& server) {
    if (module.StartInstallCheck(repair ? 1 : 0) == 0) {
        return Fail("the check could not start", module.GetLastErrorMsg(), server);
    }
    CConsole console;
    WaitForRun(module, console);
    console.End();
    const std::vector<InstallFinding>& findings = module.GetCheckFindings();
    for (const std::string& line : CheckReportLines(findings)) {
        std::printf("%s\n", line.c_str());
    }
    const int code = CheckExitCode(module.GetCheckResult(), g_state.Outcome().interrupted);
    const size_t broken = CountBroken(findings);
    size_t repaired = 0;
    for (const InstallFinding& f : findings) {
        repaired += f.repaired ? 1 : 0;
    }
    if (code == PATCH_EXIT_OK) {
        std::printf("varn-patch: every file of the game is as published (%zu repaired)\n",
                    repaired);
    } else if (code == PATCH_EXIT_INTERRUPTED) {
        Stopped();
    } else if (code == PATCH_EXIT_DAMAGED && !repair) {
        std::printf("varn-patch: %zu file(s) missing or damaged; --repair puts them back\n",
                    broken);
    } else {
        const std::string text = Explain(code, g_state.LastError(), server);
        std::fprintf(stderr, "varn-patch: check failed (exit %d): %s\n", code, text.c_str());
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    const OwnOptions own = ReadOwnOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (own.help) {
        std::fputs(kUsage, stdout);
        return PATCH_EXIT_OK;
    }
    if (!own.unknown.empty()) {
        // A mistyped option must not start an update the caller did not ask for.
        std::fprintf(stderr, "varn-patch: unknown option %s\n\n%s", own.unknown.c_str(), kUsage);
        return PATCH_EXIT_USAGE;
    }
    plat::InstallInterruptHandler();
    std::unique_ptr<plat::ResourceBundle> bundle =
        plat::ResourceBundle::Load(ChooseBundleFile(ReadLocaleEnvironment(), plat::GetModuleDir()));
    auto module = std::make_unique<CUpdateModule>();
    const PatchRoot root = ReadPatchRoot(VersionIniPath());
    const std::string server = ReadServerName(root);

    // The same calls and values as the launcher window, in its order but
    // for the bundle, which goes in before the start-up checks so that
    // their errors too are in the player's language (after them, as the
    // window does it, they would come from the built-in English table).
    module->SetParentProgamName("Varngame.exe");
    module->SetUpdateProgram("Update Program");
    module->SetLauncherVersion(kLauncherVersion);
    module->SetConnectInfo(root.host.c_str(), root.port, "", "", root.path.c_str(),
                           root.path.c_str(), 0, true, root.useFtp, SERVICE_TYPE_DEFAULT);
    TransferSettings transfer = ReadTransferSettings(
        VersionIniPath(), plat::JoinPath(plat::GetModuleDir(), "config.ini"), plat::GetModuleDir());
    if (own.maxRate != 0) {
        transfer.maxRate = own.maxRate;
    }
    ApplyTransferSettings(*module, root, transfer);
    if (transfer.maxRate != 0) {
        std::printf("varn-patch: download rate limited to %s\n",
                    FormatRate(transfer.maxRate).c_str());
    }
    module->SetCallBack(nullptr, &OnUpdate);
    module->SetResourceHandle(bundle.get());
    if (module->CheckCommandLine() == 0) {
        return Fail("start-up check failed", module->GetLastErrorMsg(), server);
    }
    if (CUpdateModule::IsLauncherHandOver()) {
        // "-copy": the new program files are in place; no update of our own.
        return HandOver(module, "the new varn-patch is installed; it continues the update");
    }
    if (plat::InterruptRequested()) {
        return Stopped();
    }
    if (own.verify || own.repair) {
        const int code = RunCheck(*module, own.repair, server);
        module.reset();
        return code;
    }
    module->SetFullVersionDownload(0);
    if (module->StartUpdate() == 0) {
        return Fail("the update could not start", module->GetLastErrorMsg(), server);
    }

    CConsole console;
    WaitForRun(*module, console);
    console.End();
    if (CUpdateModule::IsLauncherHandOver() && !g_state.Outcome().interrupted) {
        return HandOver(module, "a newer varn-patch was downloaded; it installs itself");
    }
    const RunOutcome outcome = g_state.Outcome();
    const int code = ExitCodeFor(outcome);
    if (code == PATCH_EXIT_OK) {
        char local[20] = "";
        module->GetMajorUpdateVersion(local, nullptr);
        std::printf("varn-patch: the game is up to date (version %s)\n", local);
    } else if (code == PATCH_EXIT_INTERRUPTED) {
        Stopped();
    } else {
        const std::string text = Explain(code, g_state.LastError(), server);
        std::fprintf(stderr, "varn-patch: update failed (exit %d): %s\n", code, text.c_str());
    }
    module.reset();
    return code;
}
