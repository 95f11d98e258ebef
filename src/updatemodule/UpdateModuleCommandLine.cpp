// CUpdateModule: the command line, the start-up checks, the process walk
// and the start of the game through the portal launcher.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/CommandLineMask.h"
#include "engine/FileUpdater.h"
#include "engine/ResourceText.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/Thread.h"
#include "updatemodule/LoginFrontClient.h"
#include "updatemodule/UpdateModule.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPortalKey = "Software\\Pellor\\Quorim";
constexpr const char* kPortalProgram = "QuorimLauncher.exe";

using Kind = CUpdateModule::OptionKind;

struct OptionDef {
    const char* name;
    Kind kind;
};

// Every option the launcher knows; anything else on the line is ignored.
constexpr OptionDef kOptions[] = {
    {"-copy", Kind::OPTION_REST},           {"-checked", Kind::OPTION_REST},
    {"-type", Kind::OPTION_VALUE},          {"-ftppath", Kind::OPTION_VALUE},
    {"-updateversion", Kind::OPTION_VALUE}, {"-getlast", Kind::OPTION_FLAG},
    {"-loop", Kind::OPTION_FLAG},           {"-savelog", Kind::OPTION_FLAG},
    {"-saveuserlog", Kind::OPTION_FLAG},    {"-savepatchlog", Kind::OPTION_FLAG},
    {"-nouself", Kind::OPTION_FLAG},        {"-ip", Kind::OPTION_VALUE},
    {"-port", Kind::OPTION_VALUE},          {"-user", Kind::OPTION_VALUE},
    {"-pass", Kind::OPTION_VALUE},          {"-noauth", Kind::OPTION_FLAG},
    {"-name", Kind::OPTION_VALUE},
};

const OptionDef* FindOption(const std::string& word) {
    for (const OptionDef& o : kOptions) {
        if (word == o.name) {
            return &o;
        }
    }
    return nullptr;
}

// Next blank-separated word from pos. Double quotes group blanks, so a
// value the platform quoted (a path with a blank) stays one word.
bool NextWord(const std::string& line, size_t& pos, std::string& word) {
    size_t start = 0;
    if (!NextCommandLineWord(line, pos, start)) {
        return false;
    }
    word = line.substr(start, pos - start);
    return true;
}

// A quoted value word loses its quotes ("" is an empty value).
std::string Unquote(const std::string& word) {
    if (word.find('"') == std::string::npos) {
        return word;
    }
    std::vector<std::string> parts = plat::SplitCommandLine(word);
    return parts.empty() ? std::string() : parts.front();
}

// The rest of the line after an option that takes it, blanks trimmed.
// Local paths hold "/", so the value runs to the end of the line rather than
// to the next "/"; the words after it are therefore never options.
std::string TakeRest(const std::string& line, size_t& pos) {
    size_t start = pos;
    while (start < line.size() && line[start] == ' ') {
        ++start;
    }
    size_t end = line.size();
    while (end > start && line[end - 1] == ' ') {
        --end;
    }
    pos = line.size();
    return Unquote(line.substr(start, end - start));
}

// Appends a forward form only when it fits whole: a cut option would hand
// the next launcher a wrong value.
void AppendForward(char* buf, size_t size, const std::string& form) {
    const size_t used = std::strlen(buf);
    if (used + form.size() < size) {
        std::memcpy(buf + used, form.c_str(), form.size() + 1);
    }
}

std::string Cut(const std::string& value, size_t maxChars) {
    return value.size() > maxChars ? value.substr(0, maxChars) : value;
}

// FNV-1a: stable across builds and runs, unlike std::hash.
uint32_t Fnv1a(const std::string& text) {
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h = (h ^ c) * 16777619u;
    }
    return h;
}

std::string GameDirectory() {
    return g_FileUpdater.m_szDefaultPath[0] != '\0' ? std::string(g_FileUpdater.m_szDefaultPath)
                                                    : plat::GetModuleDir();
}

// True when path names something strictly below the game directory, after
// "." and ".." are resolved (symbolic links included where they exist).
bool InsideGameDirectory(const std::string& path) {
    std::error_code ec;
    const fs::path game = fs::weakly_canonical(GameDirectory(), ec);
    if (ec) {
        return false;
    }
    const fs::path target = fs::weakly_canonical(path, ec);
    if (ec || target == game) {
        return false;
    }
    const std::string g = game.string() + "/";
    return target.string().rfind(g, 0) == 0;
}

// The launcher's own executable name as the engine knows it.
std::string LauncherExeName() {
    return g_FileUpdater.m_szExeName[0] != '\0' ? std::string(g_FileUpdater.m_szExeName)
                                                : plat::GetModuleFileName();
}

void RecordStartupError(int errorCode, unsigned stringId, plat::ResourceHandle module,
                        int customCode) {
    char text[kStringBuffer] = "";
    plat::LoadResourceString(module, stringId, text, sizeof(text));
    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, errorCode, text, customCode);
    CUpdaterBase::Notify(NOTIFY_UPDATE_FAILED);
}

// The line from its first "-copy" or "-checked" option word on; "" when
// it has neither.
std::string HandOverTail(const std::string& line) {
    size_t pos = 0;
    std::string word;
    for (size_t start = 0; NextWord(line, pos, word); start = pos) {
        if (word == "-copy" || word == "-checked") {
            return line.substr(line.find(word, start));
        }
        const OptionDef* option = FindOption(word);
        if (option != nullptr && option->kind == Kind::OPTION_VALUE) {
            NextWord(line, pos, word);  // a value is never an option
        }
    }
    return "";
}

bool SameDirectory(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    return fs::weakly_canonical(a, ec1) == fs::weakly_canonical(b, ec2) && !ec1 && !ec2;
}

// True when the directory dir is the game directory or lies below it.
bool InGameDirectory(const std::string& dir) {
    std::error_code ec;
    const fs::path game = fs::weakly_canonical(GameDirectory(), ec);
    if (ec || dir.empty()) {
        return false;
    }
    const fs::path d = fs::weakly_canonical(dir, ec);
    const fs::path rel = d.lexically_relative(game);
    return !ec && !rel.empty() && *rel.begin() != "..";
}

}  // namespace

std::string CUpdateModule::MergeCommandLine(const std::string& param, const std::string& ownArgs) {
    if (param.empty()) {
        return ownArgs;
    }
    if (!ownArgs.empty() && ownArgs[0] != ' ') {
        return param + " " + ownArgs;
    }
    return param;
}

CUpdateModule::OptionKind CUpdateModule::OptionKindOf(const std::string& word) {
    const OptionDef* option = FindOption(word);
    return option != nullptr ? option->kind : OPTION_NONE;
}

int CUpdateModule::CheckCommandLine() {
    LoadTypeFile();
    g_FileUpdater.ClearVersionRecords();
    const std::string config = plat::JoinPath(plat::GetModuleDir(), "config.ini");
    char param[260] = "";
    plat::GetPrivateProfileString("COMMON", "PARAM", "", param, sizeof(param), config.c_str());
    const std::string ownArgs = plat::GetCommandLineArgs();
    std::string line = MergeCommandLine(param, ownArgs);
    // The hand-over options come from the launcher that started this one,
    // never from PARAM: they are honoured even where PARAM sets the options.
    const std::string handOver = HandOverTail(ownArgs);
    if (param[0] != '\0' && !handOver.empty() && line.find(handOver) == std::string::npos) {
        line += " " + handOver;
    }
    return ApplyCommandLine(line.c_str());
}

int CUpdateModule::ApplyCommandLine(const char* text) {
    const std::string line = text != nullptr ? text : "";
    char* forward = g_FileUpdater.ForwardOptions();
    forward[0] = '\0';
    UserLog("start CommandLine\n");

    bool checked = false;
    bool first = true;
    size_t pos = 0;
    std::string word;
    while (NextWord(line, pos, word)) {
        if (first && m_nKBT_USA != 0) {
            // The overseas portal passes its window as the first word.
            m_hTargetWnd = reinterpret_cast<WindowHandle>(
                static_cast<uintptr_t>(std::strtoul(word.c_str(), nullptr, 10)));
        }
        first = false;
        const OptionDef* option = FindOption(word);
        if (option == nullptr || option->kind == Kind::OPTION_FLAG) {
            if (option != nullptr) {
                AppendForward(forward, 260, ApplyOption(word, ""));
            }
            continue;
        }
        std::string value;
        if (option->kind == Kind::OPTION_REST) {
            value = TakeRest(line, pos);
            if (value.empty()) {
                break;
            }
        } else if (NextWord(line, pos, value)) {
            value = Unquote(value);
        } else {
            break;
        }
        if (word == "-copy") {
            // The options before it go on to the installed launcher.
            g_FileUpdater.SetArguments(forward);
            return CopyHandOff(value);
        }
        checked = checked || word == "-checked";
        AppendForward(forward, 260, ApplyOption(word, value));
    }

    // Every call that gets this far logs, in user-log mode.
    g_UpdateLogger.EnableSaveLog(1);
    g_FileUpdater.EnableSaveLog(1);
    if (CProtocolUpdater* protocol = g_FileUpdater.GetProtocol()) {
        protocol->EnableSaveLog(1);
    }

    if (!m_pMutex) {
        bool exists = false;
        std::unique_ptr<plat::NamedMutex> mutex =
            plat::NamedMutex::Create(InstanceMutexName(), exists);
        if (exists) {
            g_UpdateLogger.UpdateLog("Process is aleady Running.\n");
            RecordStartupError(static_cast<int>(plat::ERROR_ALREADY_EXISTS_CODE),
                               IDS_ALREADY_RUNNING, m_hResource, CUSTOM_ERROR_ALREADY_RUNNING);
            return 0;
        }
        if (!mutex) {
            // No lock can be had at all (temporary directory unusable): a
            // second instance cannot be told apart, so go on without one.
            g_UpdateLogger.UpdateLog("Instance lock failed ErrorCode %d\n",
                                     static_cast<int>(plat::GetLastError()));
        }
        m_pMutex = std::move(mutex);
    }
    g_FileUpdater.SetInstanceMutex(m_pMutex.get());

    return checked ? WaitForGameExit(3, 1) : WaitForGameExit(5, 0);
}

std::string CUpdateModule::ApplyOption(const std::string& option, const std::string& value) {
    CProtocolUpdater* protocol = g_FileUpdater.GetProtocol();
    const std::string quoted = plat::QuoteCommandLineArg(value);
    if (option == "-type" || option == "-ftppath" || option == "-updateversion") {
        UserLog("ShowCommandLine Token [%s] = [%s]\n", option.c_str(), value.c_str());
    }
    if (option == "-checked") {
        g_FileUpdater.SetLauncherReplaced(1);
        // The line comes from outside: only the launcher copy's leftovers,
        // inside the game directory, may go; never a tree elsewhere.
        if (!InsideGameDirectory(value)) {
            g_UpdateLogger.UpdateLog("-checked %s is outside the game directory; kept\n",
                                     value.c_str());
        } else if (protocol != nullptr) {
            protocol->DeletePath(value.c_str());
        }
    } else if (option == "-type") {
        if (value == "s") {
            g_FileUpdater.SetLauncherType(LAUNCHER_TYPE_SERVICE);
            return " -type s";
        }
        if (value == "t") {
            g_LoginFront.SetLoginFront(0);
            g_FileUpdater.SetLauncherType(LAUNCHER_TYPE_TEST);
            return " -type t";
        }
    } else if (option == "-ftppath") {
        g_FileUpdater.SetLauncherPath(value.c_str());
        return " -ftppath " + quoted;
    } else if (option == "-updateversion") {
        const std::string version = Cut(value, 19);
        if (!version.empty()) {
            g_LoginFront.SetUpdateVersion(version.c_str());
            g_FileUpdater.SetManualVersion(version.c_str());
            return " -updateversion " + plat::QuoteCommandLineArg(version);
        }
    } else if (option == "-getlast") {
        g_FileUpdater.SetGetLast(1);
        g_LoginFront.SetGetLast(1);
        return " -getlast";
    } else if (option == "-loop") {
        g_FileUpdater.SetLoop(1);
        return " -loop";
    } else if (option == "-savelog") {
        g_UpdateLogger.EnableSaveLog(0);
        return " -savelog";
    } else if (option == "-saveuserlog") {
        g_UpdateLogger.EnableSaveLog(1);
    } else if (option == "-savepatchlog") {
        g_UpdateLogger.EnableSavePatchLog();
        return " -savepatchlog";
    } else if (option == "-nouself") {
        g_LoginFront.SetLoginFront(0);
        return " -nouself";
    } else if (option == "-noauth") {
        m_nCheckAuthKey = 0;
    } else if (option == "-name") {
        SetMapGameName(Cut(value, 99).c_str());
    } else {
        // -ip, -port, -user, -pass: the transfer object's connection values.
        const std::string text = Cut(value, 99);
        if (protocol != nullptr) {
            if (option == "-ip") {
                protocol->SetAddress(text.c_str());
            } else if (option == "-port") {
                protocol->SetPort(std::atoi(text.c_str()));
            } else if (option == "-user") {
                protocol->SetUserID(text.c_str());
            } else {
                protocol->SetPassword(text.c_str());
            }
        }
        return " " + option + " " + plat::QuoteCommandLineArg(text);
    }
    return "";
}

int CUpdateModule::CopyHandOff(const std::string& targetDir) {
    // The hand-over line marks the directory with one "/" before it; a local
    // absolute path then starts with "//".
    const std::string target = targetDir.rfind("//", 0) == 0 ? targetDir.substr(1) : targetDir;
    UserLog("ShowCommandLine Token [%s] = [%s]\n", "-copy", target.c_str());
    const std::string ownDir = plat::GetModuleDir();
    if (target.empty() || target[0] != '/' || !plat::IsDirectory(target) ||
        SameDirectory(ownDir, target)) {
        // Copying a launcher onto itself would end with no launcher at all.
        g_UpdateLogger.UpdateLog("CopyLauncher target %s is not another installation\n",
                                 target.c_str());
        const std::string text =
            LoadFormattedString(m_hResource, IDS_LAUNCHER_COPY, kStringBuffer, {});
        g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM,
                                       static_cast<int>(plat::ERROR_INVALID_PARAMETER_CODE),
                                       text.c_str(), CUSTOM_ERROR_LAUNCHER_COPY);
        return 0;
    }
    // From here on this program works for the target installation, and its
    // own directory goes once the installed launcher runs: logs go there.
    g_FileUpdater.SetUpdatePath(target.c_str());
    g_UpdateLogger.SetBaseDirectory(target.c_str());
    // Its messages in the player's language, whenever the host gave the
    // bundle already.
    if (CProtocolUpdater* protocol = g_FileUpdater.GetProtocol(); protocol && m_hResource) {
        protocol->SetResourceHandle(m_hResource);
    }
    CheckProcess(1, 0);
    return g_FileUpdater.CopyLauncher(ownDir.c_str(), target.c_str());
}

int CUpdateModule::IsLauncherHandOver() {
    return g_FileUpdater.HasHandOver() ? 1 : 0;
}

int CUpdateModule::ExecuteLauncherHandOver(std::string* error) {
    const int result = g_FileUpdater.ExecuteHandOver();
    if (error != nullptr) {
        *error = CUpdaterBase::GetLastErrorMessage();
    }
    return result;
}

int CUpdateModule::WaitForGameExit(int attempts, int skipLauncher) {
    for (int i = 0; i < attempts; ++i) {
        if (CheckProcess(0, skipLauncher) == 0) {
            return 1;
        }
        plat::Sleep(1000);
    }
    g_UpdateLogger.UpdateLog("Game is aleady Running.\n");
    RecordStartupError(static_cast<int>(plat::GetLastError()), IDS_GAME_RUNNING, m_hResource,
                       CUSTOM_ERROR_GAME_RUNNING);
    return 0;
}

std::string CUpdateModule::InstanceMutexName() const {
    char hash[9];
    std::snprintf(hash, sizeof(hash), "%08X", Fnv1a(GameDirectory()));
    return LauncherExeName() + hash;
}

int CUpdateModule::CheckProcess(int kill, int skipLauncher) {
    const uint32_t self = plat::GetCurrentProcessId();
    const std::string launcher = LauncherExeName();
    const std::string game = m_szParentProgramName;
    const std::string ownDir = plat::GetModuleDir();
    int found = 0;
    for (const plat::ProcessEntry& p : plat::ListProcesses()) {
        if (p.pid == self) {
            continue;
        }
        const std::string* name = nullptr;
        // A launcher of another installation is no concern of this one (its
        // own instance lock keeps two of one installation apart); one whose
        // directory cannot be read is counted, as before.
        const bool otherInstall = !p.exeDir.empty() && p.exeDir != ownDir;
        // Ending a process is only for those of this installation; one
        // whose program cannot be placed (another user's, or the game under
        // Wine, whose program is Wine's) is left alone.
        if (kill != 0 && !InGameDirectory(p.exeDir)) {
            continue;
        }
        if (skipLauncher == 0 && p.exeName == launcher && !otherInstall) {
            name = &launcher;
        } else if (!game.empty() && p.exeName == game) {
            name = &game;
        }
        if (name == nullptr) {
            continue;
        }
        found = 1;
        g_UpdateLogger.UpdateLog("%s Running checked\n", name->c_str());
        if (kill != 0) {
            KillProcess(p.pid);
            g_UpdateLogger.UpdateLog("%s Killed Process\n", name->c_str());
        }
    }
    return found;
}

void CUpdateModule::KillProcess(unsigned long processId) {
    if (!plat::TerminateProcess(static_cast<uint32_t>(processId))) {
        g_UpdateLogger.UpdateLog("Process %d Terminated Failed Errorcode %d\n",
                                 static_cast<int>(processId),
                                 static_cast<int>(plat::GetLastError()));
    } else {
        g_UpdateLogger.UpdateLog("Terminated %d\n", static_cast<int>(processId));
    }
}

int CUpdateModule::ExecuteProgram() {
    g_UpdateLogger.UpdateLog("Param GetName [%s] \n", m_szMapGameName);
    UserLog("ExecuteProgram  Write %s \n", m_szMapGameName);
    if (!plat::RegistryKeyExists(kPortalKey)) {
        char message[260];
        std::snprintf(message, sizeof(message), "Read RegPath Fail : %s", kPortalKey);
        g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM,
                                       static_cast<int>(plat::ERROR_FILE_NOT_FOUND_CODE), message,
                                       CUSTOM_ERROR_EXECUTE);
        return 0;
    }
    std::string dir;
    plat::RegistryReadString(kPortalKey, "Common", dir);
    dir = Cut(dir, 259);
    // The stored directory is meant to end with a separator; one written
    // without it must not glue the directory and the program name together.
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) {
        dir.pop_back();
    }
    const std::string program =
        dir.empty() ? std::string(kPortalProgram) : plat::JoinPath(dir, kPortalProgram);
    const std::string ownLine = plat::GetCommandLine();
    const std::string commandLine = program + " " + ownLine;
    // The portal is a Windows program: where it needs Wine, StartProgram
    // runs it through Wine, in the prefix the DirectX check looked at.
    plat::EnvironmentOverrides env;
    const std::string prefix = ConfiguredWinePrefix();
    if (!prefix.empty()) {
        env.emplace_back("WINEPREFIX", prefix);
    }
    if (plat::StartProgram(program, plat::SplitCommandLine(ownLine), nullptr, env)) {
        return 1;
    }
    const int error = static_cast<int>(plat::GetLastError());
    CProtocolUpdater* protocol = g_FileUpdater.GetProtocol();
    const plat::ResourceHandle module =
        protocol != nullptr ? protocol->GetResourceHandle() : m_hResource;
    std::string text =
        LoadFormattedString(module, IDS_EXECUTE_FAIL, kStringBuffer, {commandLine.c_str()});
    if (error == static_cast<int>(plat::ERROR_BAD_EXE_FORMAT_CODE)) {
        // The reason first: the message is cut at 259 characters and the
        // command line may be long.
        text = plat::FormatMessageText(plat::ERROR_BAD_EXE_FORMAT_CODE) + " " + text;
    }
    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, error, text.c_str(), CUSTOM_ERROR_EXECUTE);
    UserLog("ERROR_UPDATE_EXECUTE_FAIL (%s) \n", text.c_str());
    return 0;
}
