// CSmtpReplyReader: cuts an SMTP server's byte stream into replies. Bytes
// arrive in any pieces; a reply is complete at the line whose fourth
// character is a blank (or that has only its three digits), and bytes after
// it stay for the next reply. Pure: no I/O; one thread at a time.
#pragma once
#include <cstddef>
#include <string>

namespace mail {

struct SmtpReply {
    int code = 0;      // the three digits of its first line
    std::string text;  // every line, joined by CRLF, without the last line break
};

class CSmtpReplyReader {
public:
    enum Status {
        REPLY_INCOMPLETE,  // more bytes are needed
        REPLY_COMPLETE,    // *reply filled, its bytes consumed
        REPLY_MALFORMED,   // a line without three digits and a blank or "-", or with a bare CR
        REPLY_TOO_LONG,    // the reply does not fit in the limit
    };

    // limit: the most bytes one reply may take, line breaks included.
    explicit CSmtpReplyReader(size_t limit = 1024) : m_limit(limit) {}

    // Appends received bytes.
    void Feed(const char* data, size_t size) { m_pending.append(data, size); }
    // Takes the first complete reply. Malformed and overlong replies are
    // final: the stream cannot be trusted after them.
    Status Take(SmtpReply* reply);
    // Drops every byte not yet taken.
    void Clear() { m_pending.clear(); }
    size_t Pending() const { return m_pending.size(); }

private:
    size_t m_limit;
    std::string m_pending;
};

}  // namespace mail
