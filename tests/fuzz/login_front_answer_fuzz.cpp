// Arbitrary replies of a login-front server, judged at every length a
// client could have received: the verdict never reads past what is there,
// asks only for more than it has, settles for good at the size it asked
// for, and renders versions of unsigned bytes only.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "updatemodule/LoginFrontAnswer.h"

namespace {

bool Rendered(const char* text, int fields) {
    int dots = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '.')
            ++dots;
        else if (*p < '0' || *p > '9')
            return false;
    }
    return dots == fields - 1 && std::strlen(text) <= size_t(fields * 4 - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LoginFrontAnswer answer;
    LoginFrontAnswer::Verdict settled = LoginFrontAnswer::NEED_MORE;
    size_t settledAt = 0;
    for (size_t n = 0; n <= size; ++n) {
        // A copy of exactly n bytes, so reading past them is caught.
        uint8_t* copy = static_cast<uint8_t*>(std::malloc(n ? n : 1));
        if (n)
            std::memcpy(copy, data, n);
        const LoginFrontAnswer::Verdict v = ParseLoginFrontAnswer(copy, n, &answer);
        std::free(copy);
        bool ok = true;
        if (v == LoginFrontAnswer::NEED_MORE) {
            ok = answer.nNeeded > n && (answer.nNeeded == LoginFrontAnswer::kAnswerSize ||
                                        answer.nNeeded == LoginFrontAnswer::kLongReplySize);
        } else if (settled == LoginFrontAnswer::NEED_MORE) {
            settled = v, settledAt = n;
        } else {
            ok = v == settled;  // more bytes never change a settled reply
        }
        if (v == LoginFrontAnswer::COMPLETE)
            ok = ok && Rendered(answer.szLauncherVersion, 4) && Rendered(answer.szGameVersion, 4) &&
                 Rendered(answer.szMinorVersion, 2);
        ok = ok && (settled == LoginFrontAnswer::NEED_MORE ||
                    settledAt == LoginFrontAnswer::kAnswerSize ||
                    settledAt == LoginFrontAnswer::kLongReplySize);
        if (!ok)
            std::abort();
    }
    return 0;
}
