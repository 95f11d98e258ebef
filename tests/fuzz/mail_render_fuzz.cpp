// A mail rendered from hostile names, addresses, subject, texts and file
// names, then made a DATA stream: the rendering has CRLF line ends only and
// a header section of known header lines and continuations (no text could
// add a header of its own); the stream ends with the one "." line, has no
// other, and gives back the rendering when its dots are unstuffed.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "mail/MimeCodec.h"
#include "mail/SmtpMessage.h"

namespace {

// Fields of the input, separated by NUL bytes.
std::vector<std::string> Fields(const uint8_t* data, size_t size, size_t count) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && out.size() < count)
            out.emplace_back();
        else
            out.back() += static_cast<char>(data[i]);
    }
    out.resize(count);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            std::abort();  // a last line without its CRLF
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    for (const std::string& line : lines)
        if (line.find_first_of("\r\n") != std::string::npos)
            std::abort();  // a bare CR or LF inside a line
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const int encoding = data[0] % 6;
    const int multipart = data[1] % 5;
    const std::vector<std::string> f = Fields(data + 2, size - 2, 12);
    mail::CSmtpMessage m;
    m.SetTime({{2026, static_cast<int>(1 + f[0].size() % 12), 1, 0, 0, 0},
               static_cast<int>(f[1].size() % 7),
               static_cast<int>(f[2].size() % 1500) - 750});
    m.SetBoundarySeed(0);
    m.SetSender(f[0], f[1]);
    m.SetRecipient(f[2], f[3]);
    m.AddCopyRecipient(f[4], f[1]);
    m.SetSubject(f[5]);
    m.SetHeader(f[6], f[7]);
    m.SetMessageId(f[8]);
    m.SetMultipartType(multipart);
    m.AddPart(
        {.strText = f[9], .strContentType = f[10], .strCharset = f[4], .nEncoding = encoding});
    if (!f[11].empty()) {
        m.AddPart({.strText = f[11], .strCharset = f[10]});
        m.AddAttachment({.strPath = "/nonexistent/" + f[11], .strCharset = f[9]});
    }
    std::string text;
    m.RenderMessage(text);

    std::set<std::string> known = {
        "MIME-Version", "Message-ID", "X-Priority",   "X-MSMail-Priority",
        "X-Mailer",     "Importance", "Date",         "Subject",
        "To",           "From",       "Content-Type", "Content-Transfer-Encoding",
        "Content-ID"};
    const std::vector<std::string> lines = Lines(text);
    bool custom = false;
    for (const std::string& line : lines) {
        if (line.empty())
            break;
        if (line[0] == ' ' || line[0] == '\t')
            continue;
        const size_t colon = line.find(": ");
        if (colon == std::string::npos || colon == 0)
            std::abort();
        const std::string name = line.substr(0, colon);
        // The caller's own header may appear once, under its cleaned name.
        if (known.count(name) == 0) {
            if (custom || name.find_first_of(" \t") != std::string::npos)
                std::abort();
            custom = true;
        }
    }

    const std::string stream = mail::PrepareDataStream(text);
    const std::vector<std::string> sent = Lines(stream);
    if (sent.empty() || sent.back() != ".")
        std::abort();
    std::string unstuffed;
    for (size_t i = 0; i + 1 < sent.size(); ++i) {
        if (sent[i] == ".")
            std::abort();
        unstuffed += (sent[i][0] == '.' ? sent[i].substr(1) : sent[i]) + "\r\n";
    }
    if (unstuffed != text)
        std::abort();
    return 0;
}
