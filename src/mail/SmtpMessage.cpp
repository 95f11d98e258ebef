#include "mail/SmtpMessage.h"

#include <algorithm>
#include <cstdio>

#include "mail/MimeHeader.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace mail {
namespace {

const char* const kMailer = "Varn Launcher Mail 1.0";
const char* const kPreamble = "This is a multipart message in MIME format";

// A charset parameter value: a token, so quotes and controls go.
std::string CleanCharset(const std::string& charset) {
    std::string out;
    for (const char c : StripControls(charset)) {
        if (c != '"' && c != '\\' && c != ' ')
            out += c;
    }
    return out;
}

std::string ContentTypeLine(const std::string& type, const std::string& charset) {
    std::string line = "Content-Type: " + CleanAddress(type);
    if (line.compare(14, 5, "text/") == 0)
        line += ";\r\n\tcharset=\"" + CleanCharset(charset) + "\"";
    return line;
}

// A header name: printable ASCII without blanks and colons.
std::string HeaderName(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (c > 32 && c < 127 && c != ':')
            out += c;
    }
    return out;
}

std::string ContentIdLine(const std::string& id) {
    return id.empty() ? "" : "\r\nContent-ID: <" + CleanAddress(id) + ">";
}

}  // namespace

bool ReadAttachmentFile(const std::string& path, uint64_t tailBytes, std::string& out) {
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    uint64_t size = 0;
    bool ok = plat::StreamLength(f, size);
    const uint64_t skip = (ok && tailBytes != 0 && size > tailBytes) ? size - tailBytes : 0;
    ok = ok && plat::SeekStream(f, skip);
    char buffer[65536];
    size_t n = 0;
    while (ok && (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
        out.append(buffer, n);
    ok = ok && std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

CSmtpMessage::CSmtpMessage()
    : m_Time(plat::GetZonedTime()), m_nBoundarySeed(plat::GetTickCount()) {}

void CSmtpMessage::SetSender(const std::string& name, const std::string& address) {
    m_Sender = {name, address};
}

void CSmtpMessage::SetRecipient(const std::string& name, const std::string& address) {
    m_Recipient = {name, address};
}

void CSmtpMessage::AddCopyRecipient(const std::string& name, const std::string& address) {
    m_CopyRecipients.push_back({name, address});
}

void CSmtpMessage::AddBlindCopyRecipient(const std::string& name, const std::string& address) {
    m_BlindCopyRecipients.push_back({name, address});
}

void CSmtpMessage::SetHeader(const std::string& name, const std::string& value) {
    const std::string clean = HeaderName(name);
    if (!clean.empty())
        SetHeaderRaw(clean, StripControls(value));
}

void CSmtpMessage::AddHeaderIfAbsent(const std::string& name, const std::string& value) {
    const std::string clean = HeaderName(name);
    if (clean.empty())
        return;
    const bool present = std::any_of(m_Headers.begin(), m_Headers.end(),
                                     [&](const Header& h) { return h.first == clean; });
    if (!present)
        m_Headers.emplace_back(clean, StripControls(value));
}

void CSmtpMessage::SetHeaderRaw(const std::string& name, const std::string& value) {
    std::erase_if(m_Headers, [&](const Header& h) { return h.first == name; });
    m_Headers.emplace_back(name, value);
}

std::vector<std::string> CSmtpMessage::EnvelopeRecipients() const {
    std::vector<std::string> out;
    if (!m_Recipient.strAddress.empty())
        out.push_back(m_Recipient.strAddress);
    for (const MailRecipient& r : m_CopyRecipients)
        out.push_back(r.strAddress);
    for (const MailRecipient& r : m_BlindCopyRecipients)
        out.push_back(r.strAddress);
    return out;
}

std::string CSmtpMessage::Boundary(const char* serial, uint32_t seed) const {
    char out[64];
    std::snprintf(out, sizeof(out), "CSmtpMsgPart123X456_%s_%8.8X", serial, seed);
    return out;
}

// A boundary that no encoded body contains, so no body can end its part.
std::string CSmtpMessage::ChooseBoundary(const char* serial, const std::string& avoid) const {
    uint32_t seed = m_nBoundarySeed;
    std::string boundary = Boundary(serial, seed);
    while (avoid.find(boundary) != std::string::npos)
        boundary = Boundary(serial, ++seed);
    return boundary;
}

std::string CSmtpMessage::AddressList() const {
    std::string out = FormatMailbox(m_Recipient.strName, m_Recipient.strAddress);
    for (const MailRecipient& r : m_CopyRecipients)
        out += ",\r\n\t" + FormatMailbox(r.strName, r.strAddress);
    return out;
}

void CSmtpMessage::RenderPart(std::string& out, const CSmtpMessagePart& part) const {
    Encoding used = ENCODING_AUTO;
    const char* name = "";
    const std::string body =
        EncodeBody(static_cast<Encoding>(part.nEncoding), part.strText, &used, &name);
    out += ContentTypeLine(part.strContentType.empty() ? "text/plain" : part.strContentType,
                           part.strCharset);
    out += "\r\nContent-Transfer-Encoding: ";
    out += name;
    out += ContentIdLine(part.strContentId) + "\r\n\r\n" + body;
}

void CSmtpMessage::RenderAttachment(std::string& out, const CSmtpAttachment& attachment) const {
    const std::string fileName = plat::BaseName(attachment.strPath);
    const std::string type = attachment.strContentType.empty() ? ContentTypeForFile(fileName)
                                                               : attachment.strContentType;
    std::string data;
    ReadAttachmentFile(attachment.strPath, attachment.nTailBytes, data);
    out += ContentTypeLine(type, attachment.strCharset) + ";\r\n\t" +
           FileNameParameter("name", fileName) + "\r\nContent-Transfer-Encoding: base64\r\n";
    out += std::string("Content-Disposition: ") + (attachment.bInline ? "inline" : "attachment") +
           ";\r\n\t" + FileNameParameter("filename", fileName) +
           ContentIdLine(attachment.strContentId) + "\r\n\r\n";
    out += WrapLines(Base64Encode(data), kLineWidth);
}

void CSmtpMessage::RenderMessage(std::string& out) {
    out.clear();
    // Every part in its final form first: the boundaries must not occur in
    // any of them.
    std::vector<std::string> parts;
    std::string all;
    for (const CSmtpMessagePart& part : m_Parts) {
        parts.emplace_back();
        RenderPart(parts.back(), part);
        all += parts.back();
    }
    std::vector<std::string> files;
    for (const CSmtpAttachment& attachment : m_Attachments) {
        files.emplace_back();
        RenderAttachment(files.back(), attachment);
        all += files.back();
    }
    // An attachment always makes the mail multipart: a single part could
    // not carry its file name.
    const bool multipart = parts.size() + files.size() >= 2 || !files.empty();
    const bool nested = !files.empty() && parts.size() > 1;
    const std::string outer = ChooseBoundary("000", all);
    const std::string inner = ChooseBoundary("001", all);

    std::erase_if(m_Headers, [](const Header& h) { return h.first == "Content-Type"; });
    if (multipart) {
        int type = m_nMultipartType;
        if (type < MULTIPART_MIXED || type > MULTIPART_RELATED)
            type = files.empty() ? MULTIPART_ALTERNATIVE : MULTIPART_MIXED;
        static constexpr const char* kKinds[] = {"", "mixed", "alternative", "related"};
        SetHeaderRaw("Content-Type", std::string("multipart/") + kKinds[type] +
                                         ";\r\n\tboundary=\"" + outer + "\"");
    }
    SetHeaderRaw("MIME-Version", "1.0");
    std::erase_if(m_Headers, [](const Header& h) { return h.first == "Message-ID"; });
    if (!m_strMessageId.empty())
        SetHeaderRaw("Message-ID", "<" + CleanAddress(m_strMessageId) + ">");
    AddHeaderIfAbsent("X-Priority", "3 (Normal)");
    AddHeaderIfAbsent("X-MSMail-Priority", "Normal");
    AddHeaderIfAbsent("X-Mailer", kMailer);
    AddHeaderIfAbsent("Importance", "Normal");
    SetHeaderRaw("Date", FormatDate(m_Time));
    SetHeaderRaw("Subject", EncodeHeaderText(m_strSubject));
    SetHeaderRaw("To", AddressList());
    SetHeaderRaw("From", FormatMailbox(m_Sender.strName, m_Sender.strAddress));

    for (const Header& h : m_Headers)
        out += h.first + ": " + h.second + "\r\n";
    if (!multipart) {
        // One part: its own header lines join the mail's; no part, no body.
        out += parts.empty() ? "\r\n" : parts.front();
        return;
    }
    out += std::string("\r\n") + kPreamble + "\r\n";
    const std::string& partBoundary = nested ? inner : outer;
    if (nested)
        out += "\r\n--" + outer + "\r\nContent-Type: multipart/alternative;\r\n\tboundary=\"" +
               inner + "\"\r\n";
    for (const std::string& part : parts)
        out += "\r\n--" + partBoundary + "\r\n" + part;
    if (nested)
        out += "\r\n--" + inner + "--\r\n";
    for (const std::string& file : files)
        out += "\r\n--" + outer + "\r\n" + file;
    out += "\r\n--" + outer + "--\r\n";
}

}  // namespace mail
