#include "mail/MimeCodec.h"

#include <cstdint>

namespace mail {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool Printable(unsigned char c) {
    return (c >= 32 && c < 127) || c == '\t' || c == '\r' || c == '\n';
}

// Calls fn(line) for each line of text, whatever its line ending (CR, LF or
// CRLF); a final line without an ending counts when it is not empty.
template <class Fn>
void ForEachLine(std::string_view text, Fn fn) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        fn(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        fn(text.substr(start));
}

void AppendWrapped(std::string& out, std::string_view line, size_t width) {
    while (line.size() > width) {
        size_t cut = width;
        for (size_t i = width; i > 0; --i) {
            const char c = line[i - 1];
            if (c == ' ' || c == '-' || c == ';' || c == '.' || c == ',' || c == '?' || c == '!') {
                cut = i;
                break;
            }
        }
        out.append(line.substr(0, cut));
        out += "\r\n";
        line.remove_prefix(cut);
    }
    out.append(line);
    out += "\r\n";
}

void AppendQuotedLine(std::string& out, std::string_view line) {
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        // A blank at the end of a line would be lost in transport.
        const bool literal =
            (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
        const size_t width = literal ? 1 : 3;
        // Room for the soft break's "=" unless this is the line's last piece.
        const size_t room = last ? kLineWidth : kLineWidth - 1;
        if (column + width > room) {
            out += "=\r\n";
            column = 0;
        }
        if (literal) {
            out += static_cast<char>(c);
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        column += width;
    }
    out += "\r\n";
}

}  // namespace

std::string Base64Encode(std::string_view data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const uint32_t v =
            (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8) | uint8_t(data[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < data.size()) {
        uint32_t v = uint8_t(data[i]) << 16;
        if (i + 1 < data.size())
            v |= uint8_t(data[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool Base64Decode(std::string_view text, std::string& out) {
    out.clear();
    uint32_t acc = 0;
    int bits = 0;
    size_t padding = 0;
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int v = Base64Value(c);
        if (v < 0 || padding != 0)
            return false;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    // Leftover bits are the padding's; six of them mean a truncated group.
    return bits < 6 && padding <= 2;
}

Encoding ChooseEncoding(std::string_view data) {
    if (data.empty())
        return ENCODING_7BIT;
    size_t printable = 0;
    for (const char c : data)
        printable += Printable(static_cast<unsigned char>(c)) ? 1 : 0;
    if (printable * 10 < data.size() * 9)
        return ENCODING_BASE64;
    bool longLine = false;
    ForEachLine(data,
                [&](std::string_view line) { longLine = longLine || line.size() > kLineWidth; });
    if (longLine)
        return ENCODING_QUOTED_PRINTABLE;
    return printable == data.size() ? ENCODING_7BIT : ENCODING_8BIT;
}

std::string WrapLines(std::string_view text, size_t width) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    ForEachLine(text, [&](std::string_view line) { AppendWrapped(out, line, width); });
    return out;
}

std::string QuotedPrintable(std::string_view data) {
    std::string out;
    out.reserve(data.size() + data.size() / 8 + 2);
    ForEachLine(data, [&](std::string_view line) { AppendQuotedLine(out, line); });
    return out;
}

std::string EncodeBody(Encoding encoding, std::string_view data, Encoding* used,
                       const char** name) {
    if (encoding < ENCODING_7BIT || encoding > ENCODING_BASE64)
        encoding = ChooseEncoding(data);
    *used = encoding;
    switch (encoding) {
        case ENCODING_QUOTED_PRINTABLE:
            *name = "quoted-printable";
            return QuotedPrintable(data);
        case ENCODING_BASE64:
            *name = "base64";
            return WrapLines(Base64Encode(data), kLineWidth);
        case ENCODING_8BIT:
            *name = "8bit";
            return WrapLines(data, kLineWidth);
        default:
            *name = "7bit";
            return WrapLines(data, kLineWidth);
    }
}

std::string PrepareDataStream(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 8);
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        // A line of the text that starts with "." would otherwise lose it,
        // and a line of a single "." would end the mail early.
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = false;
    }
    if (!lineStart)
        out += "\r\n";
    out += ".\r\n";
    return out;
}

}  // namespace mail
