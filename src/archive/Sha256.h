// CSha256: the plain SHA-256 of a byte stream, as 64 lower-case hexadecimal
// digits. Unlike the sampled fingerprint (CFileHash) it covers every byte,
// so the signed patch roots and the installation check rely on it.
//
// Threads: no lock; one instance belongs to one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
public:
    static constexpr size_t kHexSize = 64;

    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Starts a new digest (the constructor has done so already).
    void Reset();
    void Update(const void* data, size_t length);
    // The digest of everything fed since Reset; the next use needs Reset.
    std::string FinalHex();

    // The digest of a whole file; "" when it cannot be read to its end.
    static std::string OfFile(const std::string& path);
    static std::string OfData(const void* data, size_t length);
    // True for 64 lower-case hexadecimal digits.
    static bool IsHex(const std::string& text);

private:
    void* m_ctx = nullptr;  // EVP_MD_CTX
};
