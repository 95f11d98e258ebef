// Arbitrary server bytes cut into SMTP replies: the first byte chooses the
// piece size, and the replies (and the verdict that ends them) must be the
// same as when everything arrives at once. Every reply taken has a code in
// its first three digits and lines that each start with three digits; no
// reply is longer than the limit.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mail/SmtpReplyReader.h"

namespace {

constexpr size_t kLimit = 64;

struct Outcome {
    std::vector<mail::SmtpReply> replies;
    mail::CSmtpReplyReader::Status end = mail::CSmtpReplyReader::REPLY_INCOMPLETE;
};

bool Digits(const std::string& line) {
    return line.size() >= 3 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' &&
           line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
}

// Each line of the text starts with three digits, has no CR or LF, and
// continues ("-") except the last; the reply took at most the limit (a
// bare LF of the input became CRLF, one byte more per line).
void Check(const mail::SmtpReply& r) {
    std::vector<std::string> lines;
    size_t pos = 0;
    for (size_t at; (at = r.text.find("\r\n", pos)) != std::string::npos; pos = at + 2)
        lines.push_back(r.text.substr(pos, at - pos));
    lines.push_back(r.text.substr(pos));
    bool ok = r.code == std::stoi(r.text.substr(0, 3)) && r.text.size() <= kLimit + lines.size();
    for (size_t i = 0; ok && i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const bool last = i + 1 == lines.size();
        ok = Digits(line) && line.find_first_of("\r\n") == std::string::npos &&
             (last ? line.size() == 3 || line[3] == ' ' : line.size() > 3 && line[3] == '-');
    }
    if (!ok)
        std::abort();
}

Outcome Run(const uint8_t* data, size_t size, size_t piece) {
    Outcome out;
    mail::CSmtpReplyReader reader(kLimit);
    for (size_t fed = 0;;) {
        mail::SmtpReply reply;
        const auto status = reader.Take(&reply);
        if (status == mail::CSmtpReplyReader::REPLY_COMPLETE) {
            Check(reply);
            out.replies.push_back(reply);
            continue;
        }
        if (status != mail::CSmtpReplyReader::REPLY_INCOMPLETE || fed == size) {
            out.end = status;
            return out;
        }
        const size_t n = piece < size - fed ? piece : size - fed;
        reader.Feed(reinterpret_cast<const char*>(data) + fed, n);
        fed += n;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t piece = data[0] % 7 + 1;
    const Outcome whole = Run(data + 1, size - 1, size);
    const Outcome pieces = Run(data + 1, size - 1, piece);
    if (whole.end != pieces.end || whole.replies.size() != pieces.replies.size())
        std::abort();
    for (size_t i = 0; i < whole.replies.size(); ++i)
        if (whole.replies[i].code != pieces.replies[i].code ||
            whole.replies[i].text != pieces.replies[i].text)
            std::abort();
    return 0;
}
