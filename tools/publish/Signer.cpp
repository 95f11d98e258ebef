#include "Signer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "archive/Signature.h"

namespace fs = std::filesystem;

namespace {

EVP_PKEY* Key(void* p) {
    return static_cast<EVP_PKEY*>(p);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

}  // namespace

CSigner::CSigner(const std::string& privateKeyPath) {
    const std::string pem = ReadAll(privateKeyPath);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!key || EVP_PKEY_id(key) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(key);
        throw std::runtime_error("no Ed25519 private key (PEM) in " + privateKeyPath);
    }
    m_key = key;
}

CSigner::~CSigner() {
    EVP_PKEY_free(Key(m_key));
}

std::string CSigner::Sign(const std::string& data) const {
    unsigned char sig[CPublisherKey::kSignatureSize];
    size_t size = sizeof(sig);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok =
        ctx && EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, Key(m_key)) == 1 &&
        EVP_DigestSign(ctx, sig, &size, reinterpret_cast<const unsigned char*>(data.data()),
                       data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok || size != sizeof(sig))
        throw std::runtime_error("signing failed");
    return CPublisherKey::EncodeHex(sig, size);
}

void CSigner::SignFile(const std::string& path) const {
    WriteAll(path + ".sig", Sign(ReadAll(path)) + "\n");
}

std::string CSigner::PublicKeyText() const {
    unsigned char raw[CPublisherKey::kKeySize];
    size_t size = sizeof(raw);
    if (EVP_PKEY_get_raw_public_key(Key(m_key), raw, &size) != 1 || size != sizeof(raw))
        throw std::runtime_error("cannot read the public key");
    return CPublisherKey::EncodeHex(raw, size);
}

void CSigner::Generate(const std::string& privateKeyPath, const std::string& publicKeyPath) {
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    const bool made = ctx && EVP_PKEY_keygen_init(ctx) == 1 && EVP_PKEY_keygen(ctx, &key) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (!made)
        throw std::runtime_error("cannot make a key pair");
    BIO* bio = BIO_new(BIO_s_mem());
    std::string pem;
    if (bio && PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        pem.assign(data, static_cast<size_t>(n));
    }
    BIO_free(bio);
    EVP_PKEY_free(key);
    if (pem.empty())
        throw std::runtime_error("cannot write the private key");
    // The private key is the publisher's secret: nobody else may read it.
    { std::ofstream create(privateKeyPath, std::ios::binary | std::ios::trunc); }
    fs::permissions(privateKeyPath, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    WriteAll(privateKeyPath, pem);
    WriteAll(publicKeyPath, CSigner(privateKeyPath).PublicKeyText() + "\n");
}
