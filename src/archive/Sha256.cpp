#include "archive/Sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

EVP_MD_CTX* Ctx(void* p) {
    return static_cast<EVP_MD_CTX*>(p);
}

}  // namespace

CSha256::CSha256() : m_ctx(EVP_MD_CTX_new()) {
    Reset();
}

CSha256::~CSha256() {
    EVP_MD_CTX_free(Ctx(m_ctx));
}

void CSha256::Reset() {
    if (m_ctx)
        EVP_DigestInit_ex(Ctx(m_ctx), EVP_sha256(), nullptr);
}

void CSha256::Update(const void* data, size_t length) {
    if (m_ctx && length > 0)
        EVP_DigestUpdate(Ctx(m_ctx), data, length);
}

std::string CSha256::FinalHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!m_ctx || EVP_DigestFinal_ex(Ctx(m_ctx), digest, &size) != 1)
        return "";
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < size; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 15];
    }
    return hex;
}

std::string CSha256::OfFile(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f)
        return "";
    CSha256 sha;
    std::vector<char> block(1 << 16);
    size_t n = 0;
    while ((n = std::fread(block.data(), 1, block.size(), f.get())) > 0)
        sha.Update(block.data(), n);
    // A read error is not the end of the file: no digest of a part of it.
    if (std::ferror(f.get()))
        return "";
    return sha.FinalHex();
}

std::string CSha256::OfData(const void* data, size_t length) {
    CSha256 sha;
    sha.Update(data, length);
    return sha.FinalHex();
}

bool CSha256::IsHex(const std::string& text) {
    if (text.size() != kHexSize)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}
