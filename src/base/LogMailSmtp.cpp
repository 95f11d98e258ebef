#include "base/LogMailSmtp.h"

#include "base/UpdaterBase.h"
#include "mail/MimeCodec.h"

namespace {

void MaskAll(std::string& text, const std::string& secret) {
    if (secret.empty())
        return;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 4))
        text.replace(at, secret.size(), "****");
}

}  // namespace

std::string CLogMailSmtp::Masked(const char* response) const {
    std::string text = response != nullptr ? response : "";
    const std::string password = CUpdaterBase::s_szMailPass;
    MaskAll(text, password);
    MaskAll(text, mail::Base64Encode(password));
    return text;
}

int CLogMailSmtp::OnSmtpWarning(int code, const char* response) {
    m_Logger.UpdateLog("SendLogMail Warning %d %s\n", code, Masked(response).c_str());
    return 0;
}

int CLogMailSmtp::OnSmtpError(int code, const char* response) {
    m_Logger.UpdateLog("SendLogMail Error %d %s\n", code, Masked(response).c_str());
    return 0;
}
