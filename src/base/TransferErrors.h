// The error numbers a transfer records (in the transfer library's own
// numbering, which the logs and the support staff know), by name. The
// transfer classes record them, the engine reacts to some of them and the
// last-error record asks the server's reply for TRANSFER_ERROR_EXTENDED.
#pragma once
#include <cstdint>

enum TransferError : uint32_t {
    TRANSFER_ERROR_TIMEOUT = 12002,
    // The server answered with an error of its own; its reply text (an HTTP
    // status line, an FTP reply such as "550 ...") tells which.
    TRANSFER_ERROR_EXTENDED = 12003,
    TRANSFER_ERROR_INTERNAL = 12004,
    TRANSFER_ERROR_INVALID_URL = 12005,
    TRANSFER_ERROR_NAME_NOT_RESOLVED = 12007,
    TRANSFER_ERROR_LOGIN_FAILURE = 12015,
    TRANSFER_ERROR_CANNOT_CONNECT = 12029,
    // The server's certificate is not trusted (unknown authority, wrong
    // name, expired): the connection is refused, never made in the clear.
    TRANSFER_ERROR_INVALID_CA = 12045,
    TRANSFER_ERROR_CONNECTION_ABORTED = 12030,
    TRANSFER_ERROR_CONNECTION_RESET = 12031,
    // The FTP control connection was closed by the server.
    TRANSFER_ERROR_FTP_DROPPED = 12111,
    TRANSFER_ERROR_HEADER_NOT_FOUND = 12150,
    TRANSFER_ERROR_INVALID_SERVER_RESPONSE = 12152,
    TRANSFER_ERROR_REDIRECT_FAILED = 12156,
    // The TLS handshake failed for another reason (no common protocol, an
    // unreadable CA file).
    TRANSFER_ERROR_SECURE_FAILURE = 12175,
};
