// CDownloadLoop: the rules one download follows whatever the protocol and
// backend: the local file (created empty, written in blocks of at most
// kChunkSize), the progress record and notifications 5, 6 and 7, the stop
// test before every block, and what is recorded and left on disk when the
// download ends. Sizes and counts are 64-bit: files of 4 GiB and more are
// counted to their end.
//
// A stopped download, and one whose read or write failed, leaves its partial
// local file for the caller; a reply the backend marks as not the file
// (FetchResult::discardLocal) removes it.
//
// Threads: the update worker thread (the one running DownloadFile).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "transfer/TransferSession.h"

class CProtocolUpdaterBase;

class CDownloadLoop : public CDownloadSink {
public:
    static constexpr size_t kChunkSize = 4096;

    // lineEnd ends the loop's own log lines ("\n" for HTTP; FTP's lines
    // have none).
    CDownloadLoop(CProtocolUpdaterBase& owner, const char* remoteName, const char* lineEnd);
    ~CDownloadLoop() override;
    CDownloadLoop(const CDownloadLoop&) = delete;
    CDownloadLoop& operator=(const CDownloadLoop&) = delete;

    // Creates (truncates) the local file; false with a system error recorded.
    // continuing keeps what the file holds (a partial download of an earlier
    // run) and appends to it: those bytes count as received.
    bool OpenLocal(const char* localPath, bool continuing = false);
    // Closes and removes the local file (a download that never began).
    void DiscardLocal();
    // Ends the download: records what the result and the loop's own state
    // say, sends notification 7 on success. Returns DownloadFile's result.
    int Finish(const FetchResult& result);

    bool Begin(uint64_t size) override;
    bool Write(const char* data, size_t n) override;
    bool MayGoOn() override;
    bool TakeParked() override;
    bool Began() const override { return m_began; }
    void Resuming(uint64_t offset) override;
    uint64_t Received() const override { return m_received; }
    uint64_t HeldBefore() const override { return m_held; }
    bool DropHeld() override;
    bool Stopped() const { return m_abort == STOPPED; }

private:
    bool StoreChunk(const char* data, size_t n);
    bool CloseLocal(uint32_t* error);

    enum Abort { NONE, STOPPED, WRITE_FAILED };
    CProtocolUpdaterBase& m_owner;
    std::string m_remoteName;
    const char* m_lineEnd;
    std::string m_localPath;
    FILE* m_file = nullptr;
    bool m_began = false;
    uint64_t m_size = 0;
    uint64_t m_received = 0;
    uint64_t m_held = 0;  // bytes the local file held when it was opened
    Abort m_abort = NONE;
    uint32_t m_writeError = 0;
    bool m_parked = false;
};
