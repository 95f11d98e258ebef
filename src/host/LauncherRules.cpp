#include "host/LauncherRules.h"

#include "base/UpdateTypes.h"
#include "host/UpdatePresenter.h"
#include "platform/Process.h"

namespace {

enum : unsigned {
    IDS_AGREE_TERMS = 102,
    IDS_NOT_COMPLETE = 103,
    IDS_START_FAILED = 3039,
    IDS_BAD_PARAMETERS = 3044,
};

// The program ExecuteProgram hands over to; named in the fallback text.
constexpr const char* kPortalProgram = "QuorimLauncher.exe";

// Options of the launcher's command line that take the next word as their
// value, as the update module reads the line.
constexpr const char* kValueOptions[] = {"-type", "-ftppath", "-updateversion", "-ip",
                                         "-port", "-user",    "-pass",          "-name"};

bool TakesValue(const std::string& word) {
    for (const char* option : kValueOptions) {
        if (word == option) {
            return true;
        }
    }
    return false;
}

std::string Text(plat::ResourceHandle bundle, unsigned id) {
    char buf[kStringBuffer] = "";
    plat::LoadResourceString(bundle, id, buf, sizeof(buf));
    return buf;
}

// A bundle text with its "%s" filled in by plain replacement: the text is
// never a printf format. "%%" gives "%"; other "%" sequences stay.
std::string FillArgument(const std::string& text, const std::string& arg) {
    std::string out;
    bool used = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '%' || text[i + 1] == 's')) {
            if (text[i + 1] == '%') {
                out += '%';
            } else if (!used) {
                out += arg;
                used = true;
            }
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string WindowCaption(const std::string& version) {
    return "Kestrel Beta " + version;
}

std::string TitleText(const std::string& version, bool liveServer) {
    return "Varn Launcher ver " + version + (liveServer ? "" : " for TestServer");
}

bool HasCopyOption(const std::string& commandLine) {
    const std::vector<std::string> words = plat::SplitCommandLine(commandLine);
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "-copy") {
            return true;
        }
        if (words[i] == "-checked") {
            return false;
        }
        if (TakesValue(words[i])) {
            ++i;
        }
    }
    return false;
}

StartupNext AfterCheckCommandLine(int result, bool copyHandOff) {
    if (result == 0) {
        return StartupNext::Fail;
    }
    // The copy's only task is the hand-over: it must never update the game
    // it is replacing the launcher of.
    return copyHandOff ? StartupNext::QuitAfterHandOff : StartupNext::StartUpdate;
}

StartupFailure PlanStartupFailure(bool checksRefused, bool failureNotified,
                                  const std::string& lastError, plat::ResourceHandle bundle) {
    StartupFailure f;
    const std::string general = Text(bundle, checksRefused ? IDS_BAD_PARAMETERS : IDS_START_FAILED);
    f.logLines.push_back(general);
    if (failureNotified) {
        // The failure notification's box already names the reason and its
        // dismissal ends the launcher; a second box would only repeat it.
        return f;
    }
    f.boxText = lastError.empty() ? general : lastError;
    f.closeWindow = true;
    return f;
}

StartDecision DecideStart(bool termsAgreed, bool updateComplete, plat::ResourceHandle bundle) {
    if (!termsAgreed) {
        return {StartVerdict::AskForTerms, Text(bundle, IDS_AGREE_TERMS)};
    }
    if (!updateComplete) {
        return {StartVerdict::WaitForUpdate, Text(bundle, IDS_NOT_COMPLETE)};
    }
    return {StartVerdict::CheckAndStart, ""};
}

StartResult FinishStart(bool directXAccepted, bool programStarted, const std::string& lastError,
                        plat::ResourceHandle bundle) {
    if (directXAccepted && programStarted) {
        return {true, ""};
    }
    if (!lastError.empty()) {
        return {false, lastError};
    }
    return {false, FillArgument(Text(bundle, IDS_EXECUTE_FAIL), kPortalProgram)};
}

int StartButtonBitmap(bool termsAgreed, bool updateComplete) {
    return termsAgreed && updateComplete ? kStartBitmapEnabled : kStartBitmapDisabled;
}

TermsLook TermsToggled(bool agreed, bool updateComplete) {
    return {agreed ? kTermsBitmapOn : kTermsBitmapOff, StartButtonBitmap(agreed, updateComplete)};
}
