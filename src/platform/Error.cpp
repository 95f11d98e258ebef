// Thread-local last error and the Win32 texts of the codes the core reports.
#include "platform/Error.h"

#include <cerrno>
#include <cstdio>

#include "platform/Win32Types.h"

namespace plat {
namespace {

thread_local uint32_t t_lastError = 0;

struct ErrnoMapping {
    int err;
    uint32_t code;
};

const ErrnoMapping kErrnoMap[] = {
    {0, ERROR_SUCCESS_CODE},
    {ENOENT, ERROR_FILE_NOT_FOUND_CODE},
    {ENOTDIR, ERROR_PATH_NOT_FOUND_CODE},
    {ELOOP, ERROR_PATH_NOT_FOUND_CODE},
    {EACCES, ERROR_ACCESS_DENIED_CODE},
    {EPERM, ERROR_ACCESS_DENIED_CODE},
    {EROFS, ERROR_ACCESS_DENIED_CODE},
    {EISDIR, ERROR_ACCESS_DENIED_CODE},
    {EBADF, ERROR_INVALID_HANDLE_CODE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY_CODE},
    {EBUSY, ERROR_SHARING_VIOLATION_CODE},
    {ETXTBSY, ERROR_SHARING_VIOLATION_CODE},
    {EWOULDBLOCK, ERROR_SHARING_VIOLATION_CODE},
    {EEXIST, ERROR_ALREADY_EXISTS_CODE},
    {ENOSPC, ERROR_DISK_FULL_CODE},
    {EDQUOT, ERROR_DISK_FULL_CODE},
    {EFBIG, ERROR_DISK_FULL_CODE},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE_CODE},
    {EINVAL, ERROR_INVALID_PARAMETER_CODE},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY_CODE},
    {EIO, ERROR_WRITE_FAULT_CODE},
    {EXDEV, 17},  // ERROR_NOT_SAME_DEVICE
    {EMFILE, 4},  // ERROR_TOO_MANY_OPEN_FILES
    {ENFILE, 4},
    {ECANCELED, ERROR_OPERATION_ABORTED_CODE},
    {EINTR, ERROR_OPERATION_ABORTED_CODE},
    {ENOSYS, ERROR_NOT_SUPPORTED_CODE},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED_CODE},
    {ESRCH, 87},
    {ETIMEDOUT, 1460},  // ERROR_TIMEOUT
};

struct CodeText {
    uint32_t code;
    const char* text;
};

const CodeText kTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {17, "The system cannot move the file to a different disk drive."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {193,
     "This is a Windows program: Wine is needed to start it on this system and was not found "
     "(install the wine package)."},
    {206, "The filename or extension is too long."},
    {995,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {1460, "This operation returned because the timeout period expired."},
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10054, "An existing connection was forcibly closed by the remote host."},
    {10060,
     "A connection attempt failed because the connected party did not properly respond after a "
     "period of time, or established connection failed because connected host has failed to "
     "respond."},
    {10061, "No connection could be made because the target machine actively refused it."},
    {11001, "No such host is known."},
    {12002, "The operation timed out"},
    {12003, "An extended error was returned from the server."},
    {12007, "The server name or address could not be resolved"},
    {12029, "A connection with the server could not be established"},
    {12015, "The request to connect and log on to an FTP server failed."},
    {12030, "The connection with the server was terminated abnormally"},
    {12111, "The FTP operation was not completed because the session was aborted."},
};

}  // namespace

uint32_t GetLastError() {
    return t_lastError;
}

void SetLastError(uint32_t code) {
    t_lastError = code;
}

uint32_t Win32FromErrno(int err) {
    for (const auto& m : kErrnoMap) {
        if (m.err == err) {
            return m.code;
        }
    }
    return ERROR_GEN_FAILURE_CODE;
}

void SetLastErrorFromErrno() {
    SetLastErrorFromErrno(errno);
}

void SetLastErrorFromErrno(int err) {
    t_lastError = Win32FromErrno(err);
}

std::string FormatMessageText(uint32_t code) {
    for (const auto& t : kTexts) {
        if (t.code == code) {
            return t.text;
        }
    }
    // Unknown codes still get a readable text: callers put it into a
    // 260-character message and the logs, never leave it empty.
    char buf[64];
    std::snprintf(buf, sizeof buf, "Unknown error (%u).", code);
    return buf;
}

}  // namespace plat
