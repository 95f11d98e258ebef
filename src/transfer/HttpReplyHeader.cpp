#include "transfer/HttpReplyHeader.h"

#include <cctype>
#include <cstring>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool StartsWithNoCase(const std::string& line, const char* prefix, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        const auto a = static_cast<unsigned char>(line[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

// The value of "Name: value" when the line holds that header, else false.
bool HeaderValue(const std::string& line, const char* name, std::string* value) {
    size_t len = std::strlen(name);
    if (line.size() <= len || line[len] != ':' || !StartsWithNoCase(line, name, len))
        return false;
    size_t b = len + 1, e = line.size();
    while (b < e && IsBlank(line[b]))
        ++b;
    while (e > b && IsBlank(line[e - 1]))
        --e;
    *value = line.substr(b, e - b);
    return true;
}

}  // namespace

CHttpReplyHeader::LineResult CHttpReplyHeader::Feed(const char* data, size_t size) {
    while (size > 0 && (data[size - 1] == '\r' || data[size - 1] == '\n'))
        --size;
    std::string line(data, size);
    std::string value;
    if (line.compare(0, 5, "HTTP/") == 0) {
        StartBlock(line);
    } else if (HeaderValue(line, "Content-Length", &value)) {
        ReadLength(value);
    } else if (HeaderValue(line, "Location", &value)) {
        m_bHaveLocation = !value.empty();
    } else if (line.empty()) {
        bool interim = m_nStatus >= 100 && m_nStatus < 200;
        bool followed = m_nStatus >= 300 && m_nStatus < 400 && m_bHaveLocation;
        return interim || followed ? LINE_SKIPPED : LINE_FINAL;
    }
    return LINE_MORE;
}

void CHttpReplyHeader::StartBlock(const std::string& statusLine) {
    m_szStatusLine = statusLine;
    m_bHaveLength = m_bBadLength = m_bHaveLocation = false;
    m_nLength = 0;
    m_nStatus = 0;
    // "HTTP/x.y NNN reason": exactly three digits after the first blank.
    size_t sp = statusLine.find(' ');
    if (sp == std::string::npos || statusLine.size() < sp + 4)
        return;
    int status = 0;
    for (size_t i = sp + 1; i < sp + 4; ++i) {
        char c = statusLine[i];
        if (c < '0' || c > '9')
            return;
        status = status * 10 + (c - '0');
    }
    if (statusLine.size() == sp + 4 || statusLine[sp + 4] == ' ')
        m_nStatus = status;
}

void CHttpReplyHeader::ReadLength(const std::string& value) {
    uint64_t n = 0;
    bool ok = !value.empty();
    for (char c : value) {
        if (c < '0' || c > '9' || n > (UINT64_C(1) << 59)) {
            ok = false;
            break;
        }
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || (m_bHaveLength && n != m_nLength)) {
        m_bBadLength = true;
        return;
    }
    m_bHaveLength = true;
    m_nLength = n;
}
