// CHttpReplyHeader: reads the header lines of a request's replies, one line
// at a time as libcurl hands them over, and tells which reply block is the
// final one. Interim replies (1xx) and redirects that libcurl follows
// (3xx with a Location) come before the final reply and are skipped.
//
// Content-Length is accepted only as plain decimal digits below 2^63; a
// missing, repeated-and-different or malformed value counts as absent.
// Not thread-safe; one object per download.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class CHttpReplyHeader {
public:
    enum LineResult {
        LINE_MORE,     // inside a block
        LINE_SKIPPED,  // end of an interim or followed-redirect block
        LINE_FINAL,    // end of the final reply's block
    };

    // Feeds one header line, with or without its line break.
    LineResult Feed(const char* data, size_t size);

    int Status() const { return m_nStatus; }
    // The reply's status line without the line break ("HTTP/1.1 200 OK").
    const std::string& StatusLine() const { return m_szStatusLine; }
    bool HasLength() const { return m_bHaveLength && !m_bBadLength; }
    uint64_t Length() const { return m_nLength; }
    // "Content-Range: bytes first-last/total" of a partial reply; false when
    // absent or not of that form (an unknown total "*" included).
    bool Range(uint64_t* first, uint64_t* last, uint64_t* total) const;
    // What names this version of the file for "If-Range": a strong ETag, else
    // Last-Modified, else "" (a weak ETag cannot be used there).
    const std::string& Validator() const { return m_szETag.empty() ? m_szModified : m_szETag; }

private:
    void StartBlock(const std::string& statusLine);
    void ReadLength(const std::string& value);

    int m_nStatus = 0;
    std::string m_szStatusLine;
    bool m_bHaveLength = false;
    bool m_bBadLength = false;
    bool m_bHaveLocation = false;
    uint64_t m_nLength = 0;
    std::string m_szRange;     // Content-Range value
    std::string m_szETag;      // strong ETag only
    std::string m_szModified;  // Last-Modified value
};
