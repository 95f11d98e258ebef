// CExtractHost: what CZipExtractor needs from the transfer object, which
// lives in a layer above the archive code. The engine passes an adapter over
// its CProtocolUpdater; tests pass a fake.
//
// Threads: every member is called on the thread running ExtractFile.
#pragma once
#include "platform/Event.h"
#include "platform/File.h"

class CExtractHost {
public:
    virtual ~CExtractHost() = default;

    // Keeps a remote connection alive while the archive is unpacked locally.
    virtual void StartKeepAlive() {}
    virtual void StopKeepAlive() {}
    // Deletes a local directory tree; the result is not used by the caller.
    virtual int DeletePath(const char* path) { return plat::DeleteTree(path) ? 1 : 0; }
    // The run's stop event. An empty or closed handle counts as a stop
    // request: a stop from another thread signals, closes and uninstalls it.
    virtual plat::EventHandle GetStopEvent() = 0;
};
