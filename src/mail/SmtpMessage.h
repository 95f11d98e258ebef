// CSmtpMessage: one mail, rendered as the text CSmtp sends after DATA:
// the header lines, then one body or a multipart body of text parts and
// file attachments.
//
// Whatever a caller hands in (names, addresses, subject, file names, extra
// headers) is stripped of control characters before it reaches a header
// line, so no text can start a header of its own. Attachments always go in
// base64, so they decode to the file's exact bytes.
//
// Threads: one thread uses an object at a time.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mail/MimeCodec.h"
#include "platform/Thread.h"

namespace mail {

struct CSmtpMessagePart {
    std::string strText{};
    std::string strContentType{};  // empty: "text/plain"
    std::string strCharset{};
    int nEncoding = ENCODING_AUTO;
    std::string strContentId{};  // empty: no Content-ID line
};

struct CSmtpAttachment {
    std::string strPath{};
    std::string strContentType{};  // empty: by the file's extension
    std::string strCharset{};
    int bInline = 0;
    std::string strContentId{};
    // Nonzero: only the last nTailBytes of a larger file are attached.
    uint64_t nTailBytes = 0;
};

struct MailRecipient {
    std::string strName{};
    std::string strAddress{};
};

class CSmtpMessage {
public:
    enum MultipartType {
        MULTIPART_AUTO = 0,
        MULTIPART_MIXED,
        MULTIPART_ALTERNATIVE,
        MULTIPART_RELATED
    };

    // Empty fields; the time stamp (with its zone) and the boundary seed are
    // taken from the system now.
    CSmtpMessage();

    void SetSender(const std::string& name, const std::string& address);
    void SetRecipient(const std::string& name, const std::string& address);
    void SetSubject(const std::string& subject) { m_strSubject = subject; }
    void AddCopyRecipient(const std::string& name, const std::string& address);
    void AddBlindCopyRecipient(const std::string& name, const std::string& address);
    void AddPart(CSmtpMessagePart part) { m_Parts.push_back(std::move(part)); }
    void AddAttachment(CSmtpAttachment attachment) {
        m_Attachments.push_back(std::move(attachment));
    }
    void SetMultipartType(int type) { m_nMultipartType = type; }
    void SetMessageId(const std::string& id) { m_strMessageId = id; }

    // Header lines: Set replaces a line of that name (and moves it to the
    // end), AddIfAbsent appends only when there is none. Names compare
    // exactly, after blanks, colons and control characters are dropped; an
    // empty name is ignored.
    void SetHeader(const std::string& name, const std::string& value);
    void AddHeaderIfAbsent(const std::string& name, const std::string& value);

    // Fixes the clock inputs, so a rendering can be compared byte for byte.
    void SetTime(const plat::ZonedTime& time) { m_Time = time; }
    void SetBoundarySeed(uint32_t seed) { m_nBoundarySeed = seed; }

    const std::string& SenderAddress() const { return m_Sender.strAddress; }
    // Every envelope recipient: primary (when it has an address), copies,
    // blind copies.
    std::vector<std::string> EnvelopeRecipients() const;

    // The text sent after DATA: lines end in CRLF; not yet dot-stuffed
    // (PrepareDataStream does that). Attachments are read now; one that
    // cannot be read contributes its headers and an empty body.
    void RenderMessage(std::string& out);

private:
    using Header = std::pair<std::string, std::string>;
    void SetHeaderRaw(const std::string& name, const std::string& value);
    std::string Boundary(const char* serial, uint32_t seed) const;
    std::string ChooseBoundary(const char* serial, const std::string& avoid) const;
    void RenderPart(std::string& out, const CSmtpMessagePart& part) const;
    void RenderAttachment(std::string& out, const CSmtpAttachment& attachment) const;
    std::string AddressList() const;

    MailRecipient m_Sender;
    MailRecipient m_Recipient;
    std::string m_strSubject;
    std::vector<MailRecipient> m_CopyRecipients;
    std::vector<MailRecipient> m_BlindCopyRecipients;
    std::vector<CSmtpMessagePart> m_Parts;
    std::vector<CSmtpAttachment> m_Attachments;
    std::vector<Header> m_Headers;
    plat::ZonedTime m_Time;
    int m_nMultipartType = MULTIPART_AUTO;
    std::string m_strMessageId;
    uint32_t m_nBoundarySeed;
};

// Reads the file, or only its last tailBytes when that is nonzero and the
// file is larger. False when it cannot be read.
bool ReadAttachmentFile(const std::string& path, uint64_t tailBytes, std::string& out);

}  // namespace mail
