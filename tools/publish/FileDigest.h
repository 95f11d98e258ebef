// CFileDigest: the launcher's fingerprint (CFileHash) of a file as 40
// upper-case hexadecimal digits, in the one form the publisher needs.
#pragma once
#include <string>

class CFileDigest {
public:
    // Fingerprint of the file; throws std::runtime_error when the file
    // cannot be read completely.
    static std::string HashFile(const std::string& path);
};
