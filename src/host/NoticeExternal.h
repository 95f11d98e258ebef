// NoticeExternal: the notice page's external object, window.external,
// with its four names. The window's browser injects the script made here
// into the top frame of every page; the script installs the object only
// when the page has the notice page's own origin, so a linked site or an
// embedded frame of another site never sees it. CB_IsOurCustomBrowser
// answers inside the script; the other three also post a message to the
// launcher, which DispatchExternal judges. Every message carries a secret
// of the process's own: a frame that posts to the message channel itself
// (any frame can reach it) has no secret and is refused.
// Plain functions; any thread.
#pragma once
#include <string>

// The message channel's name, window.webkit.messageHandlers.<name>.
constexpr const char* kExternalChannel = "varnExternal";

// 32 random hexadecimal digits, new on every call.
std::string NewExternalSecret();

// The script that defines window.external, for injection at document
// start into top frames. noticeUrl: the address the view navigates to;
// its origin, as the browser itself reads it, decides where the object
// appears. The method functions do not hold the secret in their source
// text, so a page that prints them learns nothing.
std::string ExternalObjectScript(const std::string& noticeUrl, const std::string& secret);

// Dispatch ids of the external names, compared exactly (case-sensitive);
// -1 for any other name.
int ExternalDispatchId(const std::string& name);

// One call as it arrived on the message channel.
struct ExternalCall {
    std::string secret;
    std::string name;
    std::string text;   // argument 1 of CB_CustomFunctionWithParams, as text
    double number = 0;  // argument 2, as a number
};

enum class ExternalVerdict {
    Refused,        // not from the notice page's script, or an unknown name
    Done,           // a known name with nothing for the launcher to do
    CloseLauncher,  // CB_Close: the launcher closes as by its close button
};
struct ExternalOutcome {
    ExternalVerdict verdict = ExternalVerdict::Refused;
    // CB_CustomFunctionWithParams: "[parameter 1: %s] [parameter 2: %d]",
    // which the launcher does not use; empty otherwise.
    std::string detail;
    // For the update log, one line without its "\n": which call was
    // refused (the page's name in printable characters, shortened) or
    // carried out; empty for the calls that change nothing.
    std::string logLine;
};

// secret: the process's secret given to ExternalObjectScript. noticeUrl:
// the address the view was sent to; pageUrl: the view's address when the
// call arrived (the call is refused unless both have the same origin).
ExternalOutcome DispatchExternal(const ExternalCall& call, const std::string& secret,
                                 const std::string& noticeUrl, const std::string& pageUrl);
