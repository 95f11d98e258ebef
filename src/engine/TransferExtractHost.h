// CTransferExtractHost: lets the archive code reach the engine's transfer
// object (keep-alive, tree deletion, stop event) without depending on the
// transfer layer. Without a transfer object the stop event is one that is
// never signalled, so unpacking still runs.
#pragma once
#include "archive/ExtractHost.h"
#include "transfer/ProtocolUpdater.h"

class CTransferExtractHost : public CExtractHost {
public:
    // protocol may be null; it is not owned.
    explicit CTransferExtractHost(CProtocolUpdater* protocol)
        : m_pProtocol(protocol), m_hIdle(plat::CreateEvent(true, false)) {}
    ~CTransferExtractHost() override { plat::CloseEvent(m_hIdle); }

    void StartKeepAlive() override {
        if (m_pProtocol)
            m_pProtocol->StartKeepAlive();
    }
    void StopKeepAlive() override {
        if (m_pProtocol)
            m_pProtocol->StopKeepAlive();
    }
    int DeletePath(const char* path) override {
        return m_pProtocol ? m_pProtocol->DeletePath(path) : CExtractHost::DeletePath(path);
    }
    plat::EventHandle GetStopEvent() override {
        return m_pProtocol ? m_pProtocol->GetStopEvent() : m_hIdle;
    }

private:
    CProtocolUpdater* m_pProtocol;
    plat::EventHandle m_hIdle;
};
