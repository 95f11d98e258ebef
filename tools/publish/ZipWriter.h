// CZipWriter: writes one patch archive (zip) entry by entry. Entries are
// streamed from disk in fixed chunks, so archives of large files need little
// memory. Every entry carries the same fixed time stamp, so publishing the
// same input twice gives identical bytes.
#pragma once
#include <cstdint>
#include <string>

class CZipWriter {
public:
    // Creates (truncates) the archive. store = entries are stored, not
    // deflated. Throws std::runtime_error when the file cannot be created.
    CZipWriter(const std::string& path, bool store);
    ~CZipWriter();
    CZipWriter(const CZipWriter&) = delete;
    CZipWriter& operator=(const CZipWriter&) = delete;

    // Adds the local file under entryName ("/"-separated). Throws on error.
    void AddFile(const std::string& localPath, const std::string& entryName);
    // Adds a memory buffer as one entry. Throws on error.
    void AddData(const std::string& entryName, const void* data, size_t size);
    // Writes the central directory. Throws on error; further adds are invalid.
    void Close();

    int EntryCount() const { return m_nEntries; }
    // Sum of the entries' unpacked sizes.
    uint64_t UnpackedSize() const { return m_nUnpacked; }

private:
    // unixMode: permission bits recorded for a file taken from disk (so an
    // executable stays one when unpacked); 0 records none.
    void OpenEntry(const std::string& entryName, uint64_t size, unsigned unixMode = 0);
    void CloseEntry(const std::string& entryName);

    void* m_zip = nullptr;
    std::string m_path;
    bool m_bStore;
    int m_nEntries = 0;
    uint64_t m_nUnpacked = 0;
};
