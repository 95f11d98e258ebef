#include "archive/Signature.h"

#include <openssl/evp.h>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool CPublisherKey::DecodeHex(const std::string& text, uint8_t* out, size_t size) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (end - begin != 2 * size)
        return false;
    for (size_t i = 0; i < size; ++i) {
        const int hi = HexValue(text[begin + 2 * i]);
        const int lo = HexValue(text[begin + 2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return true;
}

std::string CPublisherKey::EncodeHex(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 15];
    }
    return hex;
}

bool CPublisherKey::Load(const std::string& text) {
    m_loaded = DecodeHex(text, m_key.data(), m_key.size());
    return m_loaded;
}

bool CPublisherKey::Verify(const void* data, size_t length,
                           const std::string& signatureText) const {
    uint8_t signature[kSignatureSize];
    if (!m_loaded || !DecodeHex(signatureText, signature, sizeof(signature)))
        return false;
    EVP_PKEY* key =
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, m_key.data(), m_key.size());
    if (!key)
        return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    // Ed25519 hashes the message itself: no digest is named.
    const bool ok = ctx && EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, key) == 1 &&
                    EVP_DigestVerify(ctx, signature, sizeof(signature),
                                     static_cast<const unsigned char*>(data), length) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    return ok;
}
