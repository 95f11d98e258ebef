// The mail's text: transfer encodings, the DATA stream, reply parsing and
// the rendered message, read back as a mail reader would.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mail/MimeCodec.h"
#include "mail/MimeHeader.h"
#include "mail/SmtpMessage.h"
#include "mail/SmtpReplyReader.h"
#include "support/MailParse.h"
#include "support/TempDir.h"

namespace {

using namespace mail;

std::vector<std::string> SplitCrlf(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find("\r\n", pos);
        EXPECT_NE(end, std::string::npos) << "unterminated line in: " << text;
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// Undoes quoted-printable as a reader does: soft breaks vanish, =XX is a byte.
std::string DecodeQuotedPrintable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
        } else {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

plat::ZonedTime At(int offsetMinutes) {
    return {{2026, 3, 9, 7, 5, 1}, 1, offsetMinutes};
}

}  // namespace

TEST(MimeCodecTest, Base64RoundTripsEveryByteAndRefusesDamage) {
    EXPECT_EQ(Base64Encode("Man"), "TWFu");
    EXPECT_EQ(Base64Encode("Ma"), "TWE=");
    EXPECT_EQ(Base64Encode("M"), "TQ==");
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (size_t n : {0u, 1u, 2u, 3u, 4u, 255u, 256u}) {
        std::string back;
        ASSERT_TRUE(Base64Decode(WrapLines(Base64Encode(all.substr(0, n)), 76), back));
        EXPECT_EQ(back, all.substr(0, n));
    }
    std::string out;
    EXPECT_TRUE(Base64Decode("TWF", out));  // unpadded is read
    EXPECT_EQ(out, "Ma");
    EXPECT_FALSE(Base64Decode("TW=u", out));  // data after padding
    EXPECT_FALSE(Base64Decode("T", out));     // a lone character is no byte
    EXPECT_FALSE(Base64Decode("TW*u", out));
}

TEST(MimeCodecTest, EncodingsFollowTheContentAndKeepLinesShort) {
    EXPECT_EQ(ChooseEncoding(""), ENCODING_7BIT);
    EXPECT_EQ(ChooseEncoding("plain words\r\nand more\n"), ENCODING_7BIT);
    EXPECT_EQ(ChooseEncoding("caf\xe9 au lait"), ENCODING_8BIT);
    EXPECT_EQ(ChooseEncoding(std::string(77, 'x')), ENCODING_QUOTED_PRINTABLE);
    EXPECT_EQ(ChooseEncoding(std::string(8, 'a') + std::string(2, '\x01')), ENCODING_BASE64);

    // Quoted-printable: hard breaks stay, "=" and high bytes are escaped, a
    // blank at a line's end survives, and no line passes 76 characters.
    const std::string text = "a=b \r\n" + std::string(200, 'q') + "\xff\nend\t";
    const std::string qp = QuotedPrintable(text);
    EXPECT_EQ(qp.substr(0, 10), "a=3Db=20\r\n");
    for (const std::string& line : SplitCrlf(qp))
        EXPECT_LE(line.size(), 76u) << line;
    EXPECT_EQ(DecodeQuotedPrintable(qp), "a=b \r\n" + std::string(200, 'q') + "\xff\r\nend\t\r\n");

    // Wrapping breaks after a blank or punctuation, else hard at the width.
    EXPECT_EQ(WrapLines("aaaa bbbb,cccc", 6), "aaaa \r\nbbbb,\r\ncccc\r\n");
    EXPECT_EQ(WrapLines("abcdefgh\rij", 3), "abc\r\ndef\r\ngh\r\nij\r\n");
}

TEST(MimeCodecTest, DataStreamStuffsEveryDotLineAndEndsOnce) {
    EXPECT_EQ(PrepareDataStream(".first\n.\r\nmid\r.\r\n..two"),
              "..first\r\n..\r\nmid\r\n..\r\n...two\r\n.\r\n");
    EXPECT_EQ(PrepareDataStream("done\r\n"), "done\r\n.\r\n");
    EXPECT_EQ(PrepareDataStream(""), ".\r\n");
}

TEST(SmtpReplyReaderTest, RepliesArriveInPiecesAndKeepWhatFollows) {
    CSmtpReplyReader reader(64);
    SmtpReply reply;
    const std::string stream = "250-mail.example\r\n250-AUTH LOGIN\n250 OK\r\n354\r\n221 b";
    for (const char c : stream.substr(0, 41)) {
        EXPECT_EQ(reader.Take(&reply), CSmtpReplyReader::REPLY_INCOMPLETE);
        reader.Feed(&c, 1);
    }
    ASSERT_EQ(reader.Take(&reply), CSmtpReplyReader::REPLY_COMPLETE);
    EXPECT_EQ(reply.code, 250);
    EXPECT_EQ(reply.text, "250-mail.example\r\n250-AUTH LOGIN\r\n250 OK");
    reader.Feed(stream.data() + 41, stream.size() - 41);
    ASSERT_EQ(reader.Take(&reply), CSmtpReplyReader::REPLY_COMPLETE);
    EXPECT_EQ(reply.code, 354);  // three digits alone end a reply too
    EXPECT_EQ(reader.Take(&reply), CSmtpReplyReader::REPLY_INCOMPLETE);
    EXPECT_EQ(reader.Pending(), 5u);

    for (const char* bad : {"25x ok\r\n", "250_ok\r\n", "2\r\n", "250 a\rb\r\n"}) {
        CSmtpReplyReader r;
        r.Feed(bad, std::strlen(bad));
        EXPECT_EQ(r.Take(&reply), CSmtpReplyReader::REPLY_MALFORMED) << bad;
    }
    CSmtpReplyReader small(16);
    small.Feed("250-0123456789\r\n250 ", 20);
    EXPECT_EQ(small.Take(&reply), CSmtpReplyReader::REPLY_TOO_LONG);
}

TEST(SmtpMessageTest, HeadersCarryNoInjectedLineAndEncodeWhatIsNotAscii) {
    CSmtpMessage m;
    m.SetTime(At(9 * 60));
    m.SetSender("Up \"date\"\r\nBcc: evil@x", "from@x.example\r\nRCPT TO:<evil@x>");
    m.SetRecipient("", "to@x.example");
    m.AddCopyRecipient("Caf\xc3\xa9", "copy@x.example");
    m.AddBlindCopyRecipient("Hidden", "hidden@x.example");
    m.SetSubject("Log\r\nBcc: evil@x \xe3\x83\xad\xe3\x82\xb0");
    m.SetHeader("X-Trace", "one");
    m.SetHeader("X-Other", "two");
    m.SetHeader("X-Trace", "three\nInjected: yes");
    m.AddPart({.strText = "body", .strCharset = "iso-8859-1"});
    std::string text;
    m.RenderMessage(text);

    const std::vector<std::string> lines = SplitCrlf(text);
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        if (line.empty())
            break;
        if (line[0] != ' ' && line[0] != '\t')
            names.push_back(line.substr(0, line.find(':')));
    }
    // Set twice: only the last value, at the end of the list as it then was.
    EXPECT_EQ(names, (std::vector<std::string>{"X-Other", "X-Trace", "MIME-Version", "X-Priority",
                                               "X-MSMail-Priority", "X-Mailer", "Importance",
                                               "Date", "Subject", "To", "From", "Content-Type",
                                               "Content-Transfer-Encoding"}));
    const varntest::MailPart top = varntest::ParseMailPart(text);
    EXPECT_EQ(top.headers.at("X-Trace"), "three Injected: yes");
    EXPECT_EQ(top.headers.at("Date"), "Mon, 9 Mar 2026 07:05:01 +0900");
    EXPECT_EQ(top.headers.at("From"),
              "\"Up \\\"date\\\"  Bcc: evil@x\" <from@x.exampleRCPTTO:evil@x>");
    EXPECT_EQ(top.headers.at("To"), "<to@x.example>, =?UTF-8?B?Q2Fmw6k=?= <copy@x.example>");
    EXPECT_EQ(top.headers.at("Subject").rfind("=?UTF-8?B?", 0), 0u);
    EXPECT_EQ(text.find("hidden@"), std::string::npos);   // blind copies stay off the page
    EXPECT_EQ(text.find("boundary"), std::string::npos);  // one part: no multipart
    EXPECT_EQ(m.EnvelopeRecipients(),
              (std::vector<std::string>{"to@x.example", "copy@x.example", "hidden@x.example"}));

    EXPECT_EQ(FormatDate(At(-5 * 60)).substr(25), "-0500");
    EXPECT_EQ(FormatDate(At(0)).substr(25), "+0000");
    EXPECT_EQ(FormatDate(At(5 * 60 + 30)).substr(25), "+0530");
}

// The log mail's shape: a text part, then the files in the order added,
// each decoding to its bytes (LF-only lines, binary, a missing file empty,
// a long one cut to its tail).
TEST(SmtpMessageTest, AttachmentsDecodeToTheFilesBytesInOrder) {
    varntest::TempDir dir;
    std::string binary;
    for (int i = 0; i < 3000; ++i)
        binary += static_cast<char>(i * 7);
    const std::string log = "[2026-03-09 07:05:01] line one\n.\n[..] last\n";
    varntest::TempDir::WriteFile(dir / "PATCHLOG.txt", log);
    varntest::TempDir::WriteFile(dir / "update.uvf", binary);
    varntest::TempDir::WriteFile(dir / "r\xc3\xa9sum\xc3\xa9.log", "0123456789");

    CSmtpMessage m;
    m.SetSender("Update Program", "support@x.example");
    m.SetRecipient("support", "support@x.example");
    m.AddPart({.strContentType = "text/plain", .strCharset = "iso-8859-1"});
    for (const char* name : {"update.uvf", "missing.uvf", "PATCHLOG.txt"})
        m.AddAttachment({.strPath = dir / name, .strCharset = "iso-8859-1"});
    CSmtpAttachment tail{.strPath = dir / "r\xc3\xa9sum\xc3\xa9.log", .nTailBytes = 4};
    m.AddAttachment(tail);
    std::string text;
    m.RenderMessage(text);

    const varntest::MailPart top = varntest::ParseMailPart(text);
    const std::string& type = top.headers.at("Content-Type");
    EXPECT_EQ(type.rfind("multipart/mixed;", 0), 0u) << type;
    const auto parts =
        varntest::SplitMultipart("\r\n" + top.body, varntest::HeaderParameter(type, "boundary"));
    ASSERT_EQ(parts.size(), 5u);
    EXPECT_EQ(parts[0].headers.at("Content-Transfer-Encoding"), "7bit");  // the empty text
    EXPECT_EQ(parts[1].headers.at("Content-Type"), "application/octet-stream; name=\"update.uvf\"");
    EXPECT_EQ(parts[3].headers.at("Content-Type"),
              "text/plain; charset=\"iso-8859-1\"; name=\"PATCHLOG.txt\"");
    EXPECT_EQ(parts[4].headers.at("Content-Disposition"),
              "attachment; filename*=UTF-8''r%C3%A9sum%C3%A9.log");
    const auto files = varntest::MailAttachments(text);
    EXPECT_EQ(files.at("update.uvf"), binary);
    EXPECT_EQ(files.at("missing.uvf"), "");
    EXPECT_EQ(files.at("PATCHLOG.txt"), log);
    EXPECT_EQ(varntest::DecodeBase64Body(parts[4].body), "6789");
    for (const std::string& line : SplitCrlf(text))
        EXPECT_LE(line.size(), 998u);

    // Two text parts beside a file nest as an alternative inside the mix.
    CSmtpMessage nested;
    nested.AddPart({.strText = "plain"});
    nested.AddPart({.strText = "<p>html</p>", .strContentType = "text/html"});
    nested.AddAttachment({.strPath = dir / "PATCHLOG.txt"});
    nested.RenderMessage(text);
    EXPECT_NE(
        text.find("Content-Type: multipart/alternative;\r\n\tboundary=\"CSmtpMsgPart123X456_001_"),
        std::string::npos);
    EXPECT_EQ(varntest::MailAttachments(text).at("PATCHLOG.txt"), log);
}
