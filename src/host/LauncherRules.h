// The launcher window's decisions, as plain functions: its names and
// captions, the "-copy" hand-off check, what follows the start-up calls,
// the start button and the terms check box.
#pragma once
#include <string>
#include <vector>

#include "platform/Resource.h"

// What the window tells the update module about itself.
// The version the hosts announce to the patch server, which offers a newer
// launcher when it has one. Fixed at build time (a test build stands in for
// a newer release by defining another), never taken from a player's input.
#ifndef VARN_LAUNCHER_VERSION
#define VARN_LAUNCHER_VERSION "1.0.6.1"
#endif
constexpr const char* kLauncherVersion = VARN_LAUNCHER_VERSION;
constexpr const char* kGameProgramName = "Varngame.exe";
// Also the caption of every message box of the window.
constexpr const char* kUpdateProgramName = "Update Program";
constexpr const char* kRequiredDirectX = "9.0c";

// Logged (with "%s\n") when the start button is pressed, and before the
// portal launcher is started.
constexpr const char* kStartClickLog =
    "====================================================== START Button Click "
    "======================================================";
constexpr const char* kExecuteLog =
    "CKestrelDlg::OnBnClickedGameStart() g_lpUpdateModule->ExecuteProgram()";

// "Kestrel Beta 1.0.6.1".
std::string WindowCaption(const std::string& version);
// "Varn Launcher ver 1.0.6.1", with " for TestServer" when the launcher
// type file does not name the live service.
std::string TitleText(const std::string& version, bool liveServer);

// True when a process command line (the program path first, as
// plat::GetCommandLine gives it) holds "-copy" as an option word of its
// own: not inside a path or a quoted value, not as the value of an option
// that takes one, and not after "-checked", whose value runs to the end of
// the line.
bool HasCopyOption(const std::string& commandLine);

// What the window does once CheckCommandLine has returned.
enum class StartupNext {
    StartUpdate,       // go on: SetFullVersionDownload, SetResourceHandle, StartUpdate
    QuitAfterHandOff,  // the launcher copy was made: quit without an update
    Fail,              // the start-up checks refused: PlanStartupFailure
};
StartupNext AfterCheckCommandLine(int result, bool copyHandOff);

// The one report of a start-up that failed (CheckCommandLine refused, or
// StartUpdate did not start the worker).
struct StartupFailure {
    std::vector<std::string> logLines;  // log each with "%s\n"
    // Text of the one error box; "" when a failure notification raised
    // during the start-up calls shows the error itself (and shuts down).
    std::string boxText;
    bool closeWindow = false;  // request the close handshake after the box
};
// checksRefused: CheckCommandLine gave 0 (else StartUpdate did).
// failureNotified: notification 14 was raised during the start-up calls.
// lastError: GetLastErrorMsg(), the specific reason when there is one.
StartupFailure PlanStartupFailure(bool checksRefused, bool failureNotified,
                                  const std::string& lastError, plat::ResourceHandle bundle);

// The start button (log kStartClickLog first).
enum class StartVerdict {
    AskForTerms,    // the terms are not agreed: box with message
    WaitForUpdate,  // the update has not completed: box with message
    CheckAndStart,  // CheckDXVersion(kRequiredDirectX), then ExecuteProgram
};
struct StartDecision {
    StartVerdict verdict;
    std::string message;  // plain OK box text for the first two verdicts
};
StartDecision DecideStart(bool termsAgreed, bool updateComplete, plat::ResourceHandle bundle);

// After CheckAndStart: the launcher closes (through the close handshake)
// only when the game was handed over; otherwise it shows errorText in an
// error box and stays open, so the player can try again.
struct StartResult {
    bool gameStarted = false;
    std::string errorText;
};
// directXAccepted: CheckDXVersion gave nonzero; programStarted:
// ExecuteProgram did (false when it was not called); lastError:
// GetLastErrorMsg() after the attempt.
StartResult FinishStart(bool directXAccepted, bool programStarted, const std::string& lastError,
                        plat::ResourceHandle bundle);

// The start button's bitmap: enabled-looking exactly when both are set.
int StartButtonBitmap(bool termsAgreed, bool updateComplete);

// The terms check box was toggled to agreed: its bitmap and the start
// button's.
struct TermsLook {
    int checkBitmap;
    int startBitmap;
};
TermsLook TermsToggled(bool agreed, bool updateComplete);
