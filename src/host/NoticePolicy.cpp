#include "host/NoticePolicy.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The scheme's own port, or 0 for a scheme that is not the web's.
int DefaultPort(const std::string& scheme) {
    if (scheme == "http") {
        return 80;
    }
    if (scheme == "https") {
        return 443;
    }
    return 0;
}

// 1..65535 from decimal digits; 0 for anything else. Empty is the
// scheme's own port, as browsers read "http://host:/".
long ParsePort(const std::string& text, int defaultPort) {
    if (text.empty()) {
        return defaultPort;
    }
    if (text.size() > 5 || !std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return 0;
    }
    const long port = std::stol(text);
    return port >= 1 && port <= 65535 ? port : 0;
}

}  // namespace

std::optional<std::string> WebOrigin(const std::string& url) {
    const size_t colon = url.find("://");
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const std::string scheme = Lower(url.substr(0, colon));
    const int defaultPort = DefaultPort(scheme);
    if (defaultPort == 0) {
        return std::nullopt;
    }
    // Browsers end the authority at a backslash too, for these schemes.
    const size_t start = colon + 3;
    const size_t end = url.find_first_of("/?#\\", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    std::string host;
    std::string port;
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        host = authority.substr(0, close + 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') {
            return std::nullopt;
        }
        port = rest.empty() ? "" : rest.substr(1);
    } else {
        const size_t portColon = authority.find(':');
        host = authority.substr(0, portColon);
        port = portColon == std::string::npos ? "" : authority.substr(portColon + 1);
    }
    const long portNumber = ParsePort(port, defaultPort);
    if (host.empty() || portNumber == 0) {
        return std::nullopt;
    }
    std::string origin = scheme + "://" + Lower(host);
    if (portNumber != defaultPort) {
        origin += ":" + std::to_string(portNumber);
    }
    return origin;
}

bool SameWebOrigin(const std::string& a, const std::string& b) {
    const std::optional<std::string> first = WebOrigin(a);
    return first && first == WebOrigin(b);
}

bool IsWebAddress(const std::string& url) {
    return WebOrigin(url).has_value();
}

NavigationVerdict DecideNavigation(const std::string& url) {
    if (IsWebAddress(url)) {
        return NavigationVerdict::Allow;
    }
    const std::string document = Lower(url.substr(0, url.find('#')));
    return document == "about:blank" || document == "about:srcdoc" ? NavigationVerdict::Allow
                                                                   : NavigationVerdict::Block;
}

NewWindowVerdict DecideNewWindow(const std::string& url, bool userGesture) {
    return userGesture && IsWebAddress(url) ? NewWindowVerdict::OpenInBrowser
                                            : NewWindowVerdict::Refuse;
}

bool IsHttpErrorStatus(unsigned status) {
    return status >= 400;
}

RetryDecision CNoticeRetries::OnFailure(NoticeFailure failure) {
    if (failure == NoticeFailure::Cancelled || failure == NoticeFailure::Blocked) {
        return RetryDecision::Ignore;
    }
    if (m_left <= 0) {
        return RetryDecision::GiveUp;
    }
    --m_left;
    return RetryDecision::Retry;
}

bool NoticeKeyBlocked(const NoticeKey& key) {
    if (!key.down) {
        return false;
    }
    if (key.virtualKey == kVirtualKeyF5) {
        return true;
    }
    return key.control && (key.virtualKey == kVirtualKeyO || key.virtualKey == kVirtualKeyP ||
                           key.virtualKey == kVirtualKeyN);
}

PageDialogPlan PlanPageDialog(PageDialog dialog) {
    switch (dialog) {
        case PageDialog::Alert:
            return PageDialogPlan::ShowOk;
        case PageDialog::Confirm:
            return PageDialogPlan::ShowOkCancel;
        case PageDialog::Prompt:
            return PageDialogPlan::Refuse;
        case PageDialog::BeforeUnload:
            return PageDialogPlan::Leave;
    }
    return PageDialogPlan::Refuse;
}
