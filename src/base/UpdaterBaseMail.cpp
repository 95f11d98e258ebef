// The log mail: the logs of a failed patch step, mailed to the publisher's
// support mailbox. Its failure is logged and otherwise ignored: it never
// changes the result of the update.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "base/LogMailSmtp.h"
#include "base/UpdaterBase.h"
#include "mail/SmtpMessage.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace {

const char* const kMailVersion = "1.0.0.5";
const char* const kLogCharset = "iso-8859-1";

// The logs grow without end and the mail is built in memory: each is cut to
// its last kLogMailTailBytes, and the mail's text says so.
std::string TailNote(const std::string& path) {
    uint64_t size = 0;
    if (!plat::GetFileSize(path, size) || size <= CUpdaterBase::kLogMailTailBytes)
        return "";
    char note[400];
    std::snprintf(note, sizeof(note),
                  "%s: only the last %" PRIu64 " of its %" PRIu64 " bytes are attached.\r\n",
                  plat::BaseName(path).c_str(), CUpdaterBase::kLogMailTailBytes, size);
    return note;
}

}  // namespace

int CUpdaterBase::SendLogMail() {
    if (s_nSendLog == 0)
        return 0;
    mail::CSmtpMessage message;
    message.SetSender(GetProgramName(), s_szMailAddress);
    message.SetRecipient(s_szMailUser, s_szMailAddress);
    char subject[260];
    std::snprintf(subject, sizeof(subject), "%s %s Launcher Log", GetProgramName(), kMailVersion);
    message.SetSubject(subject);

    const std::string logs[] = {plat::JoinPath(m_szUpdatePath, "update.uvf"),
                                plat::JoinPath(m_szUpdatePath, "versionlist.uvf"),
                                plat::JoinPath(m_szUpdatePath, "PATCHLOG.txt"), UpdateLogPath()};
    mail::CSmtpMessagePart text;
    text.strContentType = "text/plain";
    text.strCharset = kLogCharset;
    for (const std::string& path : logs)
        text.strText += TailNote(path);
    message.AddPart(std::move(text));
    for (const std::string& path : logs) {
        mail::CSmtpAttachment file;
        file.strPath = path;
        file.strCharset = kLogCharset;
        file.nTailBytes = kLogMailTailBytes;
        message.AddAttachment(std::move(file));
    }

    CLogMailSmtp session(*this);
    session.SetLogin(s_szMailUser, s_szMailPass);
    session.SetStopFlag(&s_nMailStop);
    int code = -1;
    if (session.Connect(s_szMailServer)) {
        code = session.SendMessage(message);
        session.Close();
    } else {
        // -1 or the refusing reply; never the 0 of success.
        code = session.LastCode() == 0 ? -1 : session.LastCode();
    }
    if (code != 0) {
        PatchLog("MainSend Error %d\n", code);
        return 0;
    }
    return 1;
}
