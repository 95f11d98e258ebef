// The patch server address of version.ini [PATH] "PatchRoot", read the way
// the launcher window reads it.
#pragma once
#include <string>

struct PatchRoot {
    std::string host;
    int port = 21;
    std::string path;
    int useFtp = 1;    // 0 HTTP, 1 FTP
    bool tls = false;  // HTTPS (useFtp 0)
};

// "http://host/path" gives HTTP on port 80; any other value longer than 7
// characters is taken as a six-character scheme ("ftp://") before
// "host/path", FTP on port 21; a shorter value is only a path. A value that
// starts with "https://" gives HTTPS on port 443. An explicit
// ":port" after the host (1-65535) replaces the default port; a host with
// a colon that is not followed by a valid port is kept as it stands.
PatchRoot ParsePatchRoot(const std::string& value);
