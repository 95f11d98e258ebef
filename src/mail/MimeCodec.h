// Transfer encodings of a mail body and the DATA stream of an SMTP session.
// Pure functions over bytes: no I/O, no state, safe from any thread.
#pragma once
#include <string>
#include <string_view>

namespace mail {

// Transfer encodings, as CSmtpMessagePart::nEncoding holds them.
enum Encoding : int {
    ENCODING_AUTO = 0,
    ENCODING_7BIT = 1,
    ENCODING_8BIT = 2,
    ENCODING_QUOTED_PRINTABLE = 3,
    ENCODING_BASE64 = 4,
};

// Lines of a body are at most this long once encoded.
constexpr size_t kLineWidth = 76;

// Standard base64 (RFC 2045 alphabet and padding) on one line.
std::string Base64Encode(std::string_view data);
// Decodes base64, ignoring line breaks and blanks; false on any other
// character outside the alphabet or a bad length.
bool Base64Decode(std::string_view text, std::string& out);

// The encoding a body of unknown kind gets: base64 when fewer than 90 % of
// its bytes are printable ASCII (or tab, CR, LF), quoted-printable when a
// line is longer than kLineWidth, 8bit when any byte is not printable
// ASCII, else 7bit. An empty body is 7bit.
Encoding ChooseEncoding(std::string_view data);

// Encodes data in its transfer form; every line of the result ends in
// CRLF. ENCODING_AUTO resolves through ChooseEncoding first; the encoding
// used is returned in *used and its name ("7bit", "8bit",
// "quoted-printable", "base64") in *name. No dot-stuffing: the session
// does that for the whole stream.
std::string EncodeBody(Encoding encoding, std::string_view data, Encoding* used, const char** name);

// Splits text at CR, LF or CRLF and breaks each line longer than width at
// its last blank or one of "-;.,?!" at or before the width (hard at the
// width when there is none); every piece ends in CRLF.
std::string WrapLines(std::string_view text, size_t width);

// Quoted-printable as RFC 2045 defines it: line breaks of the input stay
// hard CRLF breaks, '=' and bytes outside 33..126 become "=XX" (blanks
// only at a line's end), soft breaks keep every line within kLineWidth.
std::string QuotedPrintable(std::string_view data);

// The DATA stream for text: every line ending (CR, LF or CRLF) becomes
// CRLF, a line that starts with "." gets a second one, the text ends with
// CRLF, and the closing ".\r\n" is appended once.
std::string PrepareDataStream(std::string_view text);

}  // namespace mail
