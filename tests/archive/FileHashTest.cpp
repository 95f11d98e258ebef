#include "archive/FileHash.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/TempDir.h"

using varntest::TempDir;

namespace {

std::string Sha1Hex(const std::string& bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha1(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(two, sizeof two, "%02X", md[i]);
        hex += two;
    }
    return hex;
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    uint32_t x = 2463534242u;
    for (auto& c : s)
        c = static_cast<char>(x ^= x << 13, x ^= x >> 17, x ^= x << 5);
    return s;
}

std::string ExpectedFingerprint(const std::string& file) {
    if (file.size() < 88000)
        return Sha1Hex(file);
    std::string fed;
    for (size_t i = 0; i < 10; ++i)
        fed += file.substr(i * (file.size() / 10), 8000);
    return Sha1Hex(fed);
}

std::string Fingerprint(CFileHash& hash, const std::string& path) {
    hash.Reset();
    EXPECT_TRUE(hash.HashFile(path.c_str())) << path;
    hash.Final();
    char text[41] = {};
    hash.ReportHash(text, REPORT_HEX);
    return text;
}

TEST(FileHash, MatchesPublishedFingerprintAcrossSizeBoundaries) {
    TempDir dir;
    CFileHash hash;  // one instance reused, as the engine does
    for (size_t size : {0, 1, 63, 64, 7999, 8000, 8001, 87999, 88000, 88009, 1000003}) {
        SCOPED_TRACE(size);
        const std::string data = Pattern(size);
        TempDir::WriteFile(dir / "f.bin", data);
        EXPECT_EQ(Fingerprint(hash, dir / "f.bin"), ExpectedFingerprint(data));
        // Fed while the bytes stream past, in chunks that straddle the
        // samples' edges, it is the same fingerprint.
        for (size_t chunk : {size_t{1} + size / 7, size_t{20480}, size_t{8000}}) {
            const CFileHash::SamplePlan plan = CFileHash::PlanSamples(size);
            hash.Reset();
            for (size_t at = 0; at < size; at += chunk)
                hash.UpdateSampled(plan, at, data.data() + at, std::min(chunk, size - at));
            hash.Final();
            char text[41] = {};
            hash.ReportHash(text, REPORT_HEX);
            EXPECT_EQ(text, ExpectedFingerprint(data)) << chunk;
        }
    }
}

// A wrapped 32-bit length would hash only the first 100 bytes of this file.
TEST(FileHash, FileAbove4GiBIsSampledOverItsWholeLength) {
    TempDir dir;
    const uint64_t size = (uint64_t{1} << 32) + 100;
    const std::string path = dir / "big.bin";
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    const uint64_t last = (size / 10) * 9;
    const bool sparse = ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                        ::pwrite(fd, "Z", 1, static_cast<off_t>(last)) == 1;
    ::close(fd);
    if (!sparse)
        GTEST_SKIP() << "no sparse 4 GiB file here";

    std::string fed(80000, '\0');
    fed[9 * 8000] = 'Z';
    CFileHash hash;
    EXPECT_EQ(Fingerprint(hash, path), Sha1Hex(fed));
}

TEST(FileHash, FailedOrRepeatedUseKeepsTheDigestDefinedAndReportsAppend) {
    CFileHash hash;
    TempDir dir;
    const std::string missing = dir / "missing";
    for (const char* path : {static_cast<const char*>(nullptr), missing.c_str(),
                             dir.path().c_str()})  // a directory is not a file
        EXPECT_FALSE(hash.HashFile(path));
    hash.Final();  // called after a failed HashFile too: the empty message
    char text[41] = {};
    hash.ReportHash(text, REPORT_HEX);
    EXPECT_STREQ(text, "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");

    hash.Reset();
    hash.Update("abc", 3);
    hash.Final();
    hash.Update("more", 4);  // no Reset: must not disturb the stored digest
    hash.Final();

    char twice[81] = {};
    hash.ReportHash(twice, REPORT_HEX);
    hash.ReportHash(twice, REPORT_HEX);
    EXPECT_STREQ(
        twice, "A9993E364706816ABA3E25717850C26C9CD0D89DA9993E364706816ABA3E25717850C26C9CD0D89D");
    char digits[100] = {};
    hash.ReportHash(digits, REPORT_DIGIT);
    EXPECT_STREQ(digits, "169 153 62 54 71 6 129 106 186 62 37 113 120 80 194 108 156 208 216 157");
    char unknown[64] = "keep";  // replaced, not appended to
    hash.ReportHash(unknown, 7);
    EXPECT_STREQ(unknown, "Error: Unknown report type!");
    hash.ReportHash(nullptr, REPORT_HEX);  // must not crash
}

}  // namespace
