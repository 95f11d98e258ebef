#include "host/NoticeExternal.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <random>

#include "host/NoticePolicy.h"

namespace {

enum : int {
    kIdIsOurCustomBrowser = 1,
    kIdClose = 2,
    kIdCustomFunction = 3,
    kIdCustomFunctionWithParams = 4,
};

// A JavaScript string literal of text: quotes, backslashes and control
// characters escaped, so no address can end the literal early.
std::string ScriptString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Argument 2 as an integer: its whole part, held within the int range; 0
// for a value that is no number.
int WholeNumber(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (value <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

// A page's text for a log line: printable ASCII only, at most 64
// characters, so that no page can write lines of its own into the log.
std::string Printable(const std::string& text) {
    constexpr size_t kMax = 64;
    std::string out;
    for (unsigned char c : text.substr(0, kMax)) {
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return text.size() > kMax ? out + "..." : out;
}

}  // namespace

std::string NewExternalSecret() {
    std::random_device source;
    std::uniform_int_distribution<int> digit(0, 15);
    static const char kHex[] = "0123456789abcdef";
    std::string secret;
    for (int i = 0; i < 32; ++i) {
        secret += kHex[digit(source)];
    }
    return secret;
}

std::string ExternalObjectScript(const std::string& noticeUrl, const std::string& secret) {
    // Runs before any script of the page, so the page cannot have replaced
    // URL, the channel or its postMessage yet; what it replaces later is
    // not used.
    return "(function () {\n"
           "  'use strict';\n"
           "  var own = false;\n"
           "  try { own = new URL(" +
           ScriptString(noticeUrl) +
           ").origin === window.location.origin; } catch (e) {}\n"
           "  var handlers = window.webkit && window.webkit.messageHandlers;\n"
           "  var channel = handlers && handlers[" +
           ScriptString(kExternalChannel) +
           "];\n"
           "  if (!own || window !== window.top || !channel) return;\n"
           "  var post = channel.postMessage.bind(channel);\n"
           "  var secret = " +
           ScriptString(secret) +
           ";\n"
           "  function call(name, text, number) {\n"
           "    post({secret: secret, name: name, text: text, number: number});\n"
           "    return true;\n"
           "  }\n"
           "  var external = Object.create(null);\n"
           "  external.CB_IsOurCustomBrowser = function () { return true; };\n"
           "  external.CB_Close = function () { return call('CB_Close', '', 0); };\n"
           "  external.CB_CustomFunction = function () {\n"
           "    return call('CB_CustomFunction', '', 0);\n"
           "  };\n"
           "  external.CB_CustomFunctionWithParams = function (text, number) {\n"
           "    return call('CB_CustomFunctionWithParams', String(text), Number(number));\n"
           "  };\n"
           "  Object.freeze(external);\n"
           "  try {\n"
           "    Object.defineProperty(window, 'external',\n"
           "        {value: external, writable: false, enumerable: true, configurable: false});\n"
           "  } catch (e) {}\n"
           "})();\n";
}

int ExternalDispatchId(const std::string& name) {
    if (name == "CB_IsOurCustomBrowser") {
        return kIdIsOurCustomBrowser;
    }
    if (name == "CB_Close") {
        return kIdClose;
    }
    if (name == "CB_CustomFunction") {
        return kIdCustomFunction;
    }
    if (name == "CB_CustomFunctionWithParams") {
        return kIdCustomFunctionWithParams;
    }
    return -1;
}

ExternalOutcome DispatchExternal(const ExternalCall& call, const std::string& secret,
                                 const std::string& noticeUrl, const std::string& pageUrl) {
    ExternalOutcome outcome;
    outcome.logLine = "External call refused [" + Printable(call.name) + "]";
    if (secret.empty() || call.secret != secret || !SameWebOrigin(noticeUrl, pageUrl)) {
        return outcome;
    }
    switch (ExternalDispatchId(call.name)) {
        case kIdClose:
            outcome.verdict = ExternalVerdict::CloseLauncher;
            outcome.logLine = "External call [CB_Close]";
            break;
        case kIdCustomFunctionWithParams:
            outcome.detail = "[parameter 1: " + call.text +
                             "] [parameter 2: " + std::to_string(WholeNumber(call.number)) + "]";
            outcome.verdict = ExternalVerdict::Done;
            outcome.logLine.clear();
            break;
        case kIdIsOurCustomBrowser:
        case kIdCustomFunction:
            outcome.verdict = ExternalVerdict::Done;
            outcome.logLine.clear();
            break;
        default:
            break;
    }
    return outcome;
}
