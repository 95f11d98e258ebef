#include "archive/FileHash.h"

#include <algorithm>

#include "platform/File.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

// The SHA-1 block transform and padding are the crypto library's; this class
// only decides which bytes are fed.
struct CFileHash::Context {
    EVP_MD_CTX* md = nullptr;
};

CFileHash::CFileHash() : m_ctx(new Context) {
    m_ctx->md = EVP_MD_CTX_new();
    if (m_ctx->md == nullptr) {
        delete m_ctx;
        throw std::bad_alloc();
    }
    Reset();
}

CFileHash::~CFileHash() {
    EVP_MD_CTX_free(m_ctx->md);
    delete m_ctx;
}

void CFileHash::Reset() {
    m_bActive = EVP_DigestInit_ex(m_ctx->md, EVP_sha1(), nullptr) == 1;
}

void CFileHash::Update(const void* data, size_t length) {
    if (m_bActive && length > 0)
        EVP_DigestUpdate(m_ctx->md, data, length);
}

void CFileHash::Final() {
    if (!m_bActive)
        return;
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_ctx->md, m_digest, &size);
    // Leave nothing of the message behind in the working state.
    EVP_MD_CTX_reset(m_ctx->md);
    m_bActive = false;
}

CFileHash::SamplePlan CFileHash::PlanSamples(uint64_t fileLength) {
    SamplePlan plan;
    const uint64_t blocks = fileLength / kBlockSize;
    if (blocks > static_cast<uint64_t>(kSampleCount)) {
        const uint64_t step = fileLength / kSampleCount;
        plan.count = kSampleCount;
        for (int i = 0; i < kSampleCount; ++i) {
            plan.offset[i] = step * static_cast<uint64_t>(i);
            plan.length[i] = kBlockSize;
        }
    } else if (fileLength > 0) {
        plan.count = 1;
        plan.length[0] = fileLength;
    }
    return plan;
}

void CFileHash::UpdateSampled(const SamplePlan& plan, uint64_t position, const void* data,
                              size_t length) {
    const uint64_t end = position + length;
    for (int i = 0; i < plan.count; ++i) {
        const uint64_t from = std::max(position, plan.offset[i]);
        const uint64_t to = std::min(end, plan.offset[i] + plan.length[i]);
        if (from < to)
            Update(static_cast<const uint8_t*>(data) + (from - position), size_t(to - from));
    }
}

namespace {

bool FeedRegion(std::FILE* f, uint64_t offset, uint64_t length, CFileHash& hash) {
    if (!plat::SeekStream(f, offset))
        return false;
    unsigned char buf[CFileHash::kBlockSize];
    while (length > 0) {
        const size_t want = length < sizeof buf ? static_cast<size_t>(length) : sizeof buf;
        if (std::fread(buf, 1, want, f) != want)
            return false;
        hash.Update(buf, want);
        length -= want;
    }
    return true;
}

}  // namespace

bool CFileHash::HashFile(const char* path) {
    if (path == nullptr)
        return false;
    // A directory opens for reading here, but is not a file to fingerprint.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return false;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    // The full 64-bit length: for files under 4 GiB this is the same plan a
    // 32-bit length gives, and above that a wrapped length would sample only
    // the first bytes of the file.
    uint64_t end = 0;
    bool ok = plat::StreamLength(f, end);
    if (ok) {
        const SamplePlan plan = PlanSamples(end);
        for (int i = 0; ok && i < plan.count; ++i)
            ok = FeedRegion(f, plan.offset[i], plan.length[i], *this);
    }
    std::fclose(f);
    return ok;
}

void CFileHash::ReportHash(char* out, int mode) const {
    if (out == nullptr)
        return;
    char* p = out + std::strlen(out);
    switch (mode) {
        case REPORT_HEX:
            for (uint8_t b : m_digest)
                p += std::sprintf(p, "%02X", b);
            break;
        case REPORT_DIGIT:
            for (size_t i = 0; i < sizeof m_digest; ++i)
                p += std::sprintf(p, i == 0 ? "%u" : " %u", static_cast<unsigned>(m_digest[i]));
            break;
        default:
            std::strcpy(out, "Error: Unknown report type!");
            break;
    }
}
