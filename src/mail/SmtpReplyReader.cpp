#include "mail/SmtpReplyReader.h"

namespace mail {
namespace {

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

CSmtpReplyReader::Status CSmtpReplyReader::Take(SmtpReply* reply) {
    std::string text;
    int code = -1;
    size_t start = 0;
    for (;;) {
        const size_t end = m_pending.find('\n', start);
        if (end == std::string::npos || end + 1 > m_limit)
            return m_pending.size() > m_limit ? REPLY_TOO_LONG : REPLY_INCOMPLETE;
        size_t lineEnd = end;
        if (lineEnd > start && m_pending[lineEnd - 1] == '\r')
            --lineEnd;
        const std::string line = m_pending.substr(start, lineEnd - start);
        // A CR anywhere but before the LF is no line end of SMTP, and it
        // would break the log line the reply may end up in.
        if (line.size() < 3 || line.find('\r') != std::string::npos || !Digit(line[0]) ||
            !Digit(line[1]) || !Digit(line[2]) ||
            (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
            return REPLY_MALFORMED;
        if (code < 0)
            code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        if (!text.empty())
            text += "\r\n";
        text += line;
        start = end + 1;
        if (line.size() == 3 || line[3] == ' ')
            break;
    }
    reply->code = code;
    reply->text = std::move(text);
    m_pending.erase(0, start);
    return REPLY_COMPLETE;
}

}  // namespace mail
