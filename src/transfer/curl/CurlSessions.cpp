// The libcurl backend: both protocols on libcurl easy handles.
#include "transfer/TransferSession.h"
#include "transfer/curl/CurlFtpSession.h"
#include "transfer/curl/CurlHttpSession.h"

std::unique_ptr<CTransferSession> CreateTransferSession(TransferProtocol protocol) {
    if (protocol != TransferProtocol::FTP)
        return std::make_unique<CCurlHttpSession>();
    return std::make_unique<CCurlFtpSession>();
}
