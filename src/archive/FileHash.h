// CFileHash: the fingerprint the service publishes for patch archives and
// pack entries. It is a SHA-1 digest, but for files of 88 000 bytes or more
// only ten evenly spaced 8000-byte samples are fed (see HashFile), so it is
// not the plain SHA-1 of such files.
//
// Calling order for one check: Reset, HashFile, Final, ReportHash(REPORT_HEX)
// into a zero-filled buffer of at least 41 characters.
//
// Threads: no lock; one instance belongs to one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>

enum : int {
    REPORT_HEX = 0,    // 40 upper-case hexadecimal digits
    REPORT_DIGIT = 1,  // the 20 bytes as decimal numbers separated by one blank
};

class CFileHash {
public:
    // Read block size of HashFile and the number of samples of a large file.
    static constexpr uint32_t kBlockSize = 8000;
    static constexpr int kSampleCount = 10;

    // Where HashFile reads: count regions of `length` bytes starting at
    // offset[i]. Files shorter than kBlockSize * 11 are one region (the
    // whole file; count 0 for an empty file).
    struct SamplePlan {
        int count = 0;
        uint64_t offset[kSampleCount] = {};
        uint64_t length[kSampleCount] = {};
    };
    static SamplePlan PlanSamples(uint64_t fileLength);

    // Performs Reset.
    CFileHash();
    ~CFileHash();
    CFileHash(const CFileHash&) = delete;
    CFileHash& operator=(const CFileHash&) = delete;

    // Starts a new digest.
    void Reset();
    // Feeds bytes. Ignored after Final until the next Reset.
    void Update(const void* data, size_t length);
    // Pads, stores the 20-byte digest and wipes the working state; the
    // digest stays readable. A second Final without Reset changes nothing.
    void Final();
    // Feeds the file by the sampling rule (does not call Final). False when
    // path is null, the file cannot be opened, or it cannot be read as far
    // as its measured length (it shrank or the read failed): a fingerprint
    // of bytes that were never read would be reported as valid otherwise.
    bool HashFile(const char* path);
    // Feeds what HashFile would of the bytes at [position, position + length)
    // of a file planned with plan. Calls that pass a file's bytes once, in
    // order, give HashFile's digest without reading the file again.
    void UpdateSampled(const SamplePlan& plan, uint64_t position, const void* data, size_t length);
    // Appends the digest to the zero-terminated text in out (REPORT_HEX adds
    // 40 characters, REPORT_DIGIT at most 79); any other mode overwrites out
    // with "Error: Unknown report type!". Null out: nothing happens. The
    // caller provides room.
    void ReportHash(char* out, int mode) const;

    // The 20-byte digest of the last Final (all zero before).
    const uint8_t* Digest() const { return m_digest; }

private:
    struct Context;
    Context* m_ctx;
    bool m_bActive = false;
    uint8_t m_digest[20] = {};
};
