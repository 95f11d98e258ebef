#include "updatemodule/LoginFrontAnswer.h"

#include <cstdio>

namespace {

bool HasMarker(const uint8_t* at) {
    return static_cast<uint16_t>(at[2] | (at[3] << 8)) == LoginFrontAnswer::kMarker;
}

// Fields are unsigned bytes: a version field of 255 stays 255.
void Render(const uint8_t* answer, LoginFrontAnswer* out) {
    std::snprintf(out->szLauncherVersion, sizeof(out->szLauncherVersion), "%u.%u.%u.%u", answer[4],
                  answer[5], answer[6], answer[7]);
    std::snprintf(out->szGameVersion, sizeof(out->szGameVersion), "%u.%u.%u.%u", answer[8],
                  answer[9], answer[10], answer[11]);
    std::snprintf(out->szMinorVersion, sizeof(out->szMinorVersion), "%u.%u", answer[12],
                  answer[13]);
}

}  // namespace

LoginFrontAnswer::Verdict ParseLoginFrontAnswer(const uint8_t* data, size_t size,
                                                LoginFrontAnswer* out) {
    out->szLauncherVersion[0] = out->szGameVersion[0] = out->szMinorVersion[0] = '\0';
    out->nNeeded = LoginFrontAnswer::kAnswerSize;
    if (size < 4) {
        return LoginFrontAnswer::NEED_MORE;
    }
    if (HasMarker(data)) {
        if (size < LoginFrontAnswer::kAnswerSize) {
            return LoginFrontAnswer::NEED_MORE;
        }
        Render(data, out);
        return LoginFrontAnswer::COMPLETE;
    }
    out->nNeeded = LoginFrontAnswer::kLongReplySize;
    if (size < LoginFrontAnswer::kLongReplySize) {
        return LoginFrontAnswer::NEED_MORE;
    }
    const uint8_t* answer = data + LoginFrontAnswer::kLongReplyOffset;
    if (!HasMarker(answer)) {
        return LoginFrontAnswer::INVALID;
    }
    Render(answer, out);
    return LoginFrontAnswer::COMPLETE;
}
