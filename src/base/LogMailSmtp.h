// CLogMailSmtp: the SMTP session of the log mail. It writes every warning
// and error of the session to the update log of the object that mails, with
// the password (plain and base64) masked should a server echo it.
//
// Threads: the mailing object's thread only.
#pragma once
#include <string>

#include "mail/Smtp.h"

class CUpdaterBase;

class CLogMailSmtp : public mail::CSmtp {
public:
    explicit CLogMailSmtp(CUpdaterBase& logger) : m_Logger(logger) {}
    int OnSmtpWarning(int code, const char* response) override;
    int OnSmtpError(int code, const char* response) override;

private:
    std::string Masked(const char* response) const;
    CUpdaterBase& m_Logger;
};
