// The publisher's signature on the files of a patch root: Ed25519 over the
// file's bytes, kept in a detached file beside it ("<name>.sig").
//
// Text forms (both tolerate blanks and line ends around the digits):
//   public key file  64 hexadecimal digits, the 32-byte Ed25519 public key
//   signature file  128 hexadecimal digits, the 64-byte signature
//
// Threads: a loaded CPublisherKey is read-only and may be shared.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class CPublisherKey {
public:
    static constexpr size_t kKeySize = 32;
    static constexpr size_t kSignatureSize = 64;

    // Reads the hexadecimal text of a public key. false (and no key) when
    // it is not exactly 32 bytes of hexadecimal digits.
    bool Load(const std::string& text);
    bool Loaded() const { return m_loaded; }
    void Clear() { m_loaded = false; }

    // True only when signatureText is a well-formed signature of data made
    // with the private key of this public key; false without a key.
    bool Verify(const void* data, size_t length, const std::string& signatureText) const;

    // Decodes exactly `size` bytes of hexadecimal digits (either case) with
    // only blanks, tabs and line ends around them. false otherwise.
    static bool DecodeHex(const std::string& text, uint8_t* out, size_t size);
    static std::string EncodeHex(const uint8_t* data, size_t size);

private:
    std::array<uint8_t, kKeySize> m_key{};
    bool m_loaded = false;
};
