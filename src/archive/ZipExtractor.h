// CZipExtractor: unpacks a patch archive into a working directory with
// progress notifications and a stop test between entries, and turns zip
// errors into the last-error record. The engine's CFileUpdater::ExtractFile
// and FormatZipError delegate here, passing itself as the logging object and
// an adapter over its transfer object as the host.
//
// Threads: runs on the update worker thread; the stop event may be
// signalled or closed from another thread and takes effect between entries.
#pragma once
#include <cstdint>

#include "archive/ExtractHost.h"
#include "base/UpdaterBase.h"

class CZipExtractor {
public:
    // Neither object is owned; both must outlive the extractor.
    CZipExtractor(CUpdaterBase& owner, CExtractHost& host) : m_owner(owner), m_host(host) {}

    // Empties and recreates outdir, then unpacks every entry of the archive
    // into it. count is only reported (log line, notification 8) unless
    // countFromArchive is set, in which case the archive's own count is.
    // deleteAfter removes the archive afterwards in any case. The output
    // directory is not emptied when it is, or contains, the owner's base
    // (game) directory. Entries whose names are absolute or climb out of
    // outdir are refused and end the extraction.
    // Returns 1 on success; 0 on a zip error (recorded through
    // FormatZipError) or a stop request (nothing recorded).
    int ExtractFile(const char* archive, const char* outdir, int count, int deleteAfter,
                    int countFromArchive);

    // Records the table message for a zip error code with the name in it as
    // a custom-message last error (which raises the error notification).
    void FormatZipError(uint32_t code, const char* name);
    // The table message with "%s" still in it.
    static const char* ZipErrorFormat(uint32_t code);

private:
    // True once the run is to stop; a suspended worker is held here first,
    // so unpacking pauses between two entries.
    bool StopRequested();
    bool MayEmpty(const char* outdir) const;
    void LogStart(const char* archive, const char* outdir, int count);
    int ExtractEntries(const char* archive, const char* outdir, int countFromArchive);
    void NotifyEnd(const char* archive, int result);

    CUpdaterBase& m_owner;
    CExtractHost& m_host;
};
