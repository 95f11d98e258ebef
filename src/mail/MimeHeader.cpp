#include "mail/MimeHeader.h"

#include <cstdio>

#include "mail/MimeCodec.h"

namespace mail {
namespace {

// Raw bytes per encoded word: 45 bytes are 60 base64 characters, which
// with "=?ISO-8859-1?B?" and "?=" stays within the 75 RFC 2047 allows.
constexpr size_t kWordBytes = 45;

bool PrintableAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) >= 127)
            return false;
    }
    return true;
}

// Length of the UTF-8 sequence that starts with lead, 0 when it is none.
size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

bool IsUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = SequenceLength(static_cast<unsigned char>(text[i]));
        if (n == 0 || i + n > text.size())
            return false;
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += n;
    }
    return true;
}

const char* Charset(std::string_view text) {
    return IsUtf8(text) ? "UTF-8" : "ISO-8859-1";
}

// Encoded words, each holding whole characters, joined by folding breaks.
std::string EncodedWords(std::string_view text) {
    const bool utf8 = IsUtf8(text);
    const std::string prefix = std::string("=?") + (utf8 ? "UTF-8" : "ISO-8859-1") + "?B?";
    std::string out;
    while (!text.empty()) {
        size_t take = text.size() < kWordBytes ? text.size() : kWordBytes;
        // Never split a character of UTF-8 between two words.
        while (utf8 && take < text.size() && take > 0 &&
               (static_cast<unsigned char>(text[take]) & 0xC0) == 0x80)
            --take;
        if (!out.empty())
            out += "\r\n ";
        out += prefix + Base64Encode(text.substr(0, take)) + "?=";
        text.remove_prefix(take);
    }
    return out;
}

std::string QuotedString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string StripControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n' || c == '\t')
            out += ' ';
        else if (u >= 32 && u != 127)
            out += c;
    }
    return out;
}

std::string CleanAddress(std::string_view address) {
    std::string out;
    for (const char c : address) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u > 32 && u != 127 && c != '<' && c != '>' && c != '"')
            out += c;
    }
    return out;
}

bool IsPlainAddress(std::string_view address) {
    return !address.empty() && CleanAddress(address) == address;
}

std::string EncodeHeaderText(std::string_view text) {
    const std::string clean = StripControls(text);
    return PrintableAscii(clean) ? clean : EncodedWords(clean);
}

std::string FormatMailbox(std::string_view name, std::string_view address) {
    const std::string clean = StripControls(name);
    std::string out;
    if (!clean.empty())
        out = (PrintableAscii(clean) ? QuotedString(clean) : EncodedWords(clean)) + " ";
    return out + "<" + CleanAddress(address) + ">";
}

std::string FileNameParameter(const char* key, std::string_view fileName) {
    const std::string clean = StripControls(fileName);
    if (PrintableAscii(clean))
        return std::string(key) + "=" + QuotedString(clean);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = std::string(key) + "*=" + Charset(clean) + "''";
    for (const char c : clean) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool plain = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') ||
                           (u >= 'a' && u <= 'z') || c == '.' || c == '-' || c == '_';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::string FormatDate(const plat::ZonedTime& time) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const plat::LocalTime& t = time.local;
    const int offset = time.utcOffsetMinutes;
    const int magnitude = offset < 0 ? -offset : offset;
    char out[64];
    std::snprintf(out, sizeof(out), "%s, %d %s %04d %02d:%02d:%02d %c%02d%02d",
                  kDays[((time.weekday % 7) + 7) % 7], t.day,
                  kMonths[((t.month - 1) % 12 + 12) % 12], t.year, t.hour, t.minute, t.second,
                  offset < 0 ? '-' : '+', (magnitude / 60) % 100, magnitude % 60);
    return out;
}

std::string ContentTypeForFile(std::string_view fileName) {
    struct Type {
        const char* extension;
        const char* type;
    };
    static constexpr Type kTypes[] = {
        {"txt", "text/plain"},  {"log", "text/plain"},      {"ini", "text/plain"},
        {"csv", "text/csv"},    {"htm", "text/html"},       {"html", "text/html"},
        {"xml", "text/xml"},    {"zip", "application/zip"}, {"pdf", "application/pdf"},
        {"png", "image/png"},   {"gif", "image/gif"},       {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"}, {"bmp", "image/bmp"},
    };
    const size_t dot = fileName.rfind('.');
    const size_t slash = fileName.find_last_of("/\\");
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return "application/octet-stream";
    std::string extension;
    for (const char c : fileName.substr(dot + 1))
        extension += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    for (const Type& t : kTypes) {
        if (extension == t.extension)
            return t.type;
    }
    return "application/octet-stream";
}

}  // namespace mail
