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

// Plain decimal digits below 2^63 from text[at], up to the first character
// that is not a digit; false when there are none or too many.
bool ReadNumber(const std::string& text, size_t& at, uint64_t* n) {
    const size_t start = at;
    *n = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (*n > (UINT64_C(1) << 59))
            return false;
        *n = *n * 10 + static_cast<uint64_t>(text[at] - '0');
    }
    return at > start;
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
    } else if (HeaderValue(line, "Content-Range", &value)) {
        m_szRange = value;
    } else if (HeaderValue(line, "ETag", &value)) {
        m_szETag = value.compare(0, 2, "W/") == 0 ? std::string() : value;
    } else if (HeaderValue(line, "Last-Modified", &value)) {
        m_szModified = value;
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
    m_szRange.clear();
    m_szETag.clear();
    m_szModified.clear();
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
    size_t at = 0;
    const bool ok = ReadNumber(value, at, &n) && at == value.size();
    if (!ok || (m_bHaveLength && n != m_nLength)) {
        m_bBadLength = true;
        return;
    }
    m_bHaveLength = true;
    m_nLength = n;
}

bool CHttpReplyHeader::Range(uint64_t* first, uint64_t* last, uint64_t* total) const {
    if (m_szRange.compare(0, 6, "bytes ") != 0)
        return false;
    size_t at = 6;
    return ReadNumber(m_szRange, at, first) && at < m_szRange.size() && m_szRange[at++] == '-' &&
           ReadNumber(m_szRange, at, last) && at < m_szRange.size() && m_szRange[at++] == '/' &&
           ReadNumber(m_szRange, at, total) && at == m_szRange.size() && *first <= *last &&
           *last < *total;
}
