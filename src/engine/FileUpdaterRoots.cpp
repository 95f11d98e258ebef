// CFileUpdater: further patch roots (mirrors) and the transfer settings.
#include <cstdlib>
#include <cstring>

#include "base/TransferErrors.h"
#include "engine/FileUpdater.h"
#include "platform/Error.h"

namespace {

const char* SchemeOf(TransferProtocol protocol) {
    switch (protocol) {
        case TransferProtocol::HTTP:
            return "http";
        case TransferProtocol::HTTPS:
            return "https";
        case TransferProtocol::FTP:
            break;
    }
    return "ftp";
}

// Errors of the network or of a server that cannot serve at all, as opposed
// to the publisher's tree lacking a file.
bool IsNetworkError(int code) {
    switch (code) {
        case TRANSFER_ERROR_TIMEOUT:
        case TRANSFER_ERROR_NAME_NOT_RESOLVED:
        case TRANSFER_ERROR_CANNOT_CONNECT:
        case TRANSFER_ERROR_CONNECTION_ABORTED:
        case TRANSFER_ERROR_CONNECTION_RESET:
        case TRANSFER_ERROR_FTP_DROPPED:
        case TRANSFER_ERROR_INVALID_SERVER_RESPONSE:
        case TRANSFER_ERROR_INVALID_CA:
        case TRANSFER_ERROR_SECURE_FAILURE:
        case plat::ERROR_INVALID_HANDLE_CODE:
            return true;
        default:
            return false;
    }
}

}  // namespace

void CFileUpdater::SetConnectRoot(const PatchServerRoot& root, unsigned char launcherType) {
    ReplaceProtocol(root.protocol, root.host.c_str(), root.port, "", "", root.path.c_str(),
                    root.path.c_str(), launcherType);
}

void CFileUpdater::SetMirrorRoots(std::vector<PatchServerRoot> roots) {
    m_mirrors = std::move(roots);
    m_nNextMirror = 0;
}

void CFileUpdater::SetTransferOptions(const TransferOptions& options) {
    m_transferOptions = options;
    if (m_pProtocol)
        m_pProtocol->SetTransferOptions(options);
}

int CFileUpdater::ConnectPatchServer() {
    if (!m_pProtocol)
        return 0;
    if (m_pProtocol->Connect()) {
        // Said once a run, also without mirrors: the log shows which
        // server a run patched from.
        UpdateLog("Patch Root In Use %s\n", m_pProtocol->RootText().c_str());
        return 1;
    }
    // No stop event is installed yet at this point of a run.
    return SwitchRoot("cannot connect", false) ? 1 : 0;
}

int CFileUpdater::FetchFile(const char* remoteName, const char* localPath, bool continuing) {
    while (m_pProtocol) {
        const uint64_t totalBefore = CallbackInfo().nTotalReceived;
        const int done = continuing ? m_pProtocol->ResumeFile(remoteName, localPath)
                                    : m_pProtocol->DownloadFile(remoteName, localPath);
        if (done || !RootFailed() || !SwitchRoot(remoteName, true))
            return done;
        // The next root's attempt counts the file afresh: bytes of the failed
        // attempt must not be counted twice in the whole update's total.
        CallbackInfo().nTotalReceived = totalBefore;
    }
    return 0;
}

bool CFileUpdater::RootFailed() {
    const int code = GetLastErrorCode();
    if (IsNetworkError(code))
        return true;
    if (code != static_cast<int>(TRANSFER_ERROR_EXTENDED))
        return false;
    // An HTTP status line: 5xx is the server's own failure; 4xx (a missing
    // file above all) is the publisher's, and another root would not help.
    char reply[256] = "";
    uint32_t extended = 0;
    GetLastResponseText(&extended, reply, sizeof(reply));
    if (std::strncmp(reply, "HTTP/", 5) != 0)
        return false;
    const char* status = std::strchr(reply, ' ');
    return status != nullptr && std::atoi(status + 1) >= 500;
}

bool CFileUpdater::SwitchRoot(const char* why, bool stoppable) {
    while (m_nNextMirror < m_mirrors.size() && !(stoppable && StopSignalled())) {
        const PatchServerRoot& root = m_mirrors[m_nNextMirror++];
        UpdateLog("Patch Root Failed (%s), Next Patch Root %s://%s:%d/%s\n", why,
                  SchemeOf(root.protocol), root.host.c_str(), root.port, root.path.c_str());
        std::unique_ptr<CProtocolUpdater> next(CreateProtocolUpdater(root.protocol));
        if (!next)
            return false;
        // The log settings and the callback are the current object's.
        static_cast<CUpdaterBase&>(*next) = static_cast<const CUpdaterBase&>(*m_pProtocol);
        next->SetResourceHandle(m_pProtocol->GetResourceHandle());
        next->SetConnectInfo(root.host.c_str(), root.port, "", "", root.path.c_str(),
                             root.path.c_str(), m_nRootLauncherType);
        // The account given for the patch server ("-user", "-pass") goes on.
        m_pProtocol->CopyAccountTo(*next);
        next->SetTransferOptions(m_transferOptions);
        std::unique_ptr<CProtocolUpdater> old;
        {
            // A stop request takes the event from the current object: the
            // run's event moves over under the same lock.
            plat::CriticalSectionLock lock(m_StopLock);
            next->SetStopEvent(m_pProtocol->GetStopEvent());
            m_pProtocol->SetStopEvent(plat::EventHandle());
            old = std::move(m_pProtocol);
            m_pProtocol = std::move(next);
        }
        old.reset();
        if (m_pProtocol->Connect()) {
            UpdateLog("Patch Root In Use %s\n", m_pProtocol->RootText().c_str());
            return true;
        }
        why = "cannot connect";
    }
    return false;
}
