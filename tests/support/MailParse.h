// Reading a received mail the way a mail reader would: header lines
// (continuations unfolded), multipart bodies split at their boundary, base64
// decoded. Independent of the code under test, so a fault there cannot
// cancel out here.
#pragma once
#include <map>
#include <string>
#include <vector>

namespace varntest {

struct MailPart {
    std::map<std::string, std::string> headers;  // name -> unfolded value
    std::string body;                            // as transferred
};

// Splits a mail (or part) at its first empty line; header continuation
// lines are joined to their header with one blank.
inline MailPart ParseMailPart(const std::string& text) {
    MailPart part;
    size_t pos = 0;
    std::string last;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty())
            break;
        if ((line[0] == ' ' || line[0] == '\t') && !last.empty()) {
            part.headers[last] += " " + line.substr(1);
        } else {
            last = line.substr(0, line.find(':'));
            part.headers[last] = line.size() > last.size() + 2 ? line.substr(last.size() + 2) : "";
        }
    }
    part.body = pos < text.size() ? text.substr(pos) : "";
    return part;
}

// The value of `key="..."` in a header value, "" when absent.
inline std::string HeaderParameter(const std::string& value, const std::string& key) {
    const size_t at = value.find(key + "=\"");
    if (at == std::string::npos)
        return "";
    const size_t start = at + key.size() + 2;
    return value.substr(start, value.find('"', start) - start);
}

// The parts of a multipart body with the given boundary.
inline std::vector<MailPart> SplitMultipart(const std::string& body, const std::string& boundary) {
    std::vector<MailPart> parts;
    const std::string delimiter = "\r\n--" + boundary;
    size_t at = body.find(delimiter);
    while (at != std::string::npos) {
        const size_t start = at + delimiter.size();
        if (body.compare(start, 2, "--") == 0)
            break;
        const size_t next = body.find(delimiter, start);
        parts.push_back(ParseMailPart(body.substr(start + 2, next - start - 2)));
        at = next;
    }
    return parts;
}

inline std::string DecodeBase64Body(const std::string& text) {
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (const char c : text) {
        const size_t v = kAlphabet.find(c);
        if (v == std::string::npos)
            continue;  // line breaks and padding
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

// The attachments of a mail: file name (filename="...") -> decoded bytes.
inline std::map<std::string, std::string> MailAttachments(const std::string& mail) {
    const MailPart top = ParseMailPart(mail);
    const auto type = top.headers.find("Content-Type");
    std::map<std::string, std::string> files;
    if (type == top.headers.end())
        return files;
    for (const MailPart& p :
         SplitMultipart("\r\n" + top.body, HeaderParameter(type->second, "boundary"))) {
        const auto disposition = p.headers.find("Content-Disposition");
        if (disposition != p.headers.end())
            files[HeaderParameter(disposition->second, "filename")] = DecodeBase64Body(p.body);
    }
    return files;
}

}  // namespace varntest
