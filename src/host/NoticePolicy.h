// NoticePolicy: what the launcher's notice page may do, decided without a
// browser. The window's browser asks these functions and carries out the
// answer: which addresses load in the view and which go to the player's
// own browser, when a failed load of the page is tried again, which keys
// never reach the page, and how the page's script dialogs are shown.
// Plain functions of their arguments; any thread.
#pragma once
#include <optional>
#include <string>

// Renewed navigations to the notice page after failed loads, for the whole
// life of the window: the count only goes down.
constexpr int kNoticeRetries = 5;
// Caption of the message boxes a page's alert and confirm show.
constexpr const char* kPageBoxCaption = "Osterra Browser";

// "scheme://host[:port]" of an http or https address: scheme and host in
// lower case, user information dropped, the scheme's own port (80, 443)
// left out. nullopt for any other scheme, no host, or a port that is not
// a number from 1 to 65535.
std::optional<std::string> WebOrigin(const std::string& url);
// True when both are http(s) addresses of the same origin.
bool SameWebOrigin(const std::string& a, const std::string& b);
// True for an http or https address with a host (WebOrigin has a value).
bool IsWebAddress(const std::string& url);

// A navigation inside the view, of the page or of one of its frames: only
// the web (http, https) and the empty documents frames begin with
// ("about:blank", "about:srcdoc") load; files, data, other programs'
// schemes never do.
enum class NavigationVerdict { Allow, Block };
NavigationVerdict DecideNavigation(const std::string& url);

// A link or script that asks for a new window: a web address the player
// asked for (a click, a key) opens in the player's own browser, never in
// the launcher; anything else is refused.
enum class NewWindowVerdict { OpenInBrowser, Refuse };
NewWindowVerdict DecideNewWindow(const std::string& url, bool userGesture);

// Why a load of the view's page (its main frame) ended without the page.
enum class NoticeFailure {
    Network,     // refused, unknown host, reset, timed out, bad certificate
    HttpStatus,  // the server answered the page itself with an error status
    Cancelled,   // replaced by a newer navigation, or stopped
    Blocked,     // refused by the view's own policy (scheme, download)
};
// True for a status the page cannot be shown with (400 and above).
bool IsHttpErrorStatus(unsigned status);

enum class RetryDecision {
    Ignore,  // not a failure of the page: nothing to do
    Retry,   // navigate to the notice address again (one retry used)
    GiveUp,  // a failure with no retry left: the view shows what it got
};

// The retries left. One per window; main thread only.
class CNoticeRetries {
public:
    // Cancellations and the view's own refusals do not count; any other
    // failure uses a retry while one is left.
    RetryDecision OnFailure(NoticeFailure failure);
    int Left() const { return m_left; }

private:
    int m_left = kNoticeRetries;
};

// A key press or release on its way to the page, as a virtual-key number
// (a letter as its upper-case ASCII code, F5 as 116).
struct NoticeKey {
    bool down = false;
    unsigned virtualKey = 0;
    bool control = false;
};
enum : unsigned {
    kVirtualKeyF5 = 116,
    kVirtualKeyN = 78,
    kVirtualKeyO = 79,
    kVirtualKeyP = 80,
};
// True when the key never reaches the page: F5 (reload) and Control with
// O, P or N (open, print, new window) when pressed. Releases, and every
// other key (Enter and Escape among them: the page's forms take them),
// go on to the page.
bool NoticeKeyBlocked(const NoticeKey& key);

// The dialogs a page's script can ask for, and what the launcher does.
enum class PageDialog { Alert, Confirm, Prompt, BeforeUnload };
enum class PageDialogPlan {
    ShowOk,        // a message box with OK
    ShowOkCancel,  // OK and Cancel; the page gets the choice
    Refuse,        // nothing shown; the page gets no answer (null)
    Leave,         // nothing shown; the page may be left
};
PageDialogPlan PlanPageDialog(PageDialog dialog);
