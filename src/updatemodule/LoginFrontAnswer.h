// The login-front server's version answer, judged from the bytes received
// so far. Pure: no I/O, no state, so a fuzzer can drive it.
//
// The answer is 16 bytes: length (2, not checked), the marker 0x33 0xFF,
// the launcher version (4 bytes), the game version (4) and the minor
// version (2), one unsigned byte per field, then 2 unused bytes. Some
// servers send an 88-byte reply whose last 16 bytes are that answer.
#pragma once
#include <cstddef>
#include <cstdint>

struct LoginFrontAnswer {
    enum Verdict { NEED_MORE, COMPLETE, INVALID };

    static constexpr size_t kAnswerSize = 16;
    static constexpr size_t kLongReplySize = 88;
    static constexpr size_t kLongReplyOffset = 72;
    static constexpr uint16_t kMarker = 0xFF33;  // offsets 2-3, little-endian

    // Versions rendered "%u.%u.%u.%u" and "%u.%u"; set for COMPLETE only.
    char szLauncherVersion[20];
    char szGameVersion[20];
    char szMinorVersion[20];
    // Total bytes the reply needs (16 or 88); for NEED_MORE, more than
    // received. While fewer than 4 bytes are known it is 16, which never
    // reads past either form.
    size_t nNeeded;
};

// Judges the first `size` bytes of a reply (data may be null when size is
// 0). COMPLETE: the marker at offset 2 and 16 bytes, or no marker there and
// exactly 88 bytes with the marker at 72 + 2; the versions are filled.
// INVALID: 88 or more bytes without either marker; nothing more can mend
// it. NEED_MORE otherwise. Bytes beyond the needed count are ignored.
LoginFrontAnswer::Verdict ParseLoginFrontAnswer(const uint8_t* data, size_t size,
                                                LoginFrontAnswer* out);
