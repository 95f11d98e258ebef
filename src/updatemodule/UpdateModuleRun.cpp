// CUpdateModule: the worker thread and the run sequence.
#include <string>

#include "engine/FileUpdater.h"
#include "platform/Error.h"
#include "platform/Path.h"
#include "updatemodule/LoginFrontClient.h"
#include "updatemodule/UpdateModule.h"

int CUpdateModule::StartUpdate() {
    CProtocolUpdater* protocol = g_FileUpdater.GetProtocol();
    if (m_hResource != nullptr && protocol != nullptr) {
        protocol->SetResourceHandle(m_hResource);
    }
    g_FileUpdater.SetKBT_USA(m_nKBT_USA);
    // Cleared here, before the worker exists, so that a CloseThread right
    // after StartUpdate still reaches the new run's query.
    g_LoginFront.ClearStop();
    CUpdaterBase::ClearMailStop();

    uint32_t threadId = 0;
    plat::ThreadHandle thread =
        plat::CreateThread([this] { return UpdateWorkerThread(this); }, true, &threadId);
    if (!thread) {
        const uint32_t error = plat::GetLastError();
        g_UpdateLogger.UpdateLog("StartUpdate Failed ErrorCode %d\n", static_cast<int>(error));
        g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_SYSTEM, static_cast<int>(error), nullptr, 0);
        return 0;
    }
    m_hThread = thread;
    m_dwThreadId = threadId;
    // Marked running before the thread is let go: a host that polls
    // IsClosedThread right after StartUpdate must not see 1 and delete the
    // module under a worker that has not yet begun.
    m_nClosed.store(0, std::memory_order_relaxed);
    plat::ResumeThread(m_hThread);
    return 1;
}

int CUpdateModule::StartInstallCheck(int repair) {
    m_nCheckMode = repair ? 2 : 1;
    const int started = StartUpdate();
    if (!started)
        m_nCheckMode = 0;
    return started;
}

unsigned CUpdateModule::UpdateWorkerThread(void* arg) {
    auto* module = static_cast<CUpdateModule*>(arg);
    module->m_nClosed.store(0, std::memory_order_relaxed);
    if (module->m_nCheckMode != 0) {
        module->m_nCheckResult =
            g_FileUpdater.CheckInstallation(module->m_nCheckMode == 2, &module->m_CheckFindings);
        module->m_nCheckMode = 0;
        CUpdaterBase::Notify(NOTIFY_CHECK_END);
        g_FileUpdater.StopRequest();
        module->m_nClosed.store(1, std::memory_order_relaxed);
        return 0;
    }
    const int result = module->UpdateRun();
    if (result == RUN_OK) {
        CUpdaterBase::Notify(NOTIFY_UPDATE_COMPLETE);
    } else if (result == RUN_LAUNCHER_UPDATED && g_FileUpdater.HasHandOver()) {
        // Not a failure: the host closes and hands over to the new launcher.
        g_UpdateLogger.UpdateLog("Return Code is %d.\n", result);
        CUpdaterBase::Notify(NOTIFY_LAUNCHER_HANDOVER);
    } else {
        if (result == RUN_FULL_VERSION_NEEDED) {
            CUpdaterBase::Notify(NOTIFY_FULL_VERSION_NEEDED);
        }
        g_UpdateLogger.UpdateLog("Return Code is %d.\n", result);
        CUpdaterBase::Notify(NOTIFY_UPDATE_FAILED);
    }
    g_FileUpdater.StopRequest();
    // Last touch of the module: the host may delete it once it sees 1.
    module->m_nClosed.store(1, std::memory_order_relaxed);
    return 0;
}

int CUpdateModule::UpdateRun() {
    if (g_FileUpdater.IsManualMode()) {
        return g_FileUpdater.ApplyManualArchive();
    }
    CProtocolUpdater* protocol = g_FileUpdater.GetProtocol();
    if (protocol == nullptr || g_FileUpdater.ConnectPatchServer() == 0) {
        return RUN_CONNECT_FAILED;
    }
    plat::SuspendPoint();
    if (g_FileUpdater.DownLoadUpdateFile() == 0) {
        return RUN_UPDATE_FILE_FAILED;
    }
    plat::SuspendPoint();

    bool checkLauncher = true;
    if (!g_LoginFront.IsLoginFront()) {
        g_UpdateLogger.UpdateLog("Not Use LF Server(Next Step Launcher Version Check)\n");
        // The overseas publisher updates the launcher itself.
        checkLauncher = (m_nKBT_USA == 0);
    } else {
        g_UpdateLogger.UpdateLog("Use LF Server\n");
        if (g_LoginFront.ConnectLFServer() != 0) {
            g_UpdateLogger.UpdateLog("*** Not Need Update ***\n");
            return RUN_OK;
        }
    }

    if (checkLauncher) {
        const std::string path = plat::JoinPath(g_FileUpdater.m_szUpdatePath, "update.uvf");
        if (g_FileUpdater.CheckLauncherVersion(path.c_str()) == 0) {
            g_UpdateLogger.UpdateLog("Launcher Update End\n");
            return g_FileUpdater.HasHandOver() ? RUN_LAUNCHER_UPDATED : RUN_LAUNCHER_FAILED;
        }
        plat::SuspendPoint();
    }

    if (g_FileUpdater.CheckUpdateListVersion() != 0) {
        g_UpdateLogger.UpdateLog("*** Not Need Major & Minor Update ***\n");
        return RUN_OK;
    }
    plat::SuspendPoint();
    if (g_FileUpdater.IsLoop() == 0) {
        return g_FileUpdater.UpdateProcess();
    }
    // Loop mode keeps applying whatever the server publishes next; only a
    // failing pass ends it.
    int result = g_FileUpdater.UpdateProcess();
    while (result == RUN_OK) {
        g_FileUpdater.SetManualVersionFlag(1);
        plat::SuspendPoint();
        result = g_FileUpdater.UpdateProcess();
    }
    return RUN_FAILED;
}

int CUpdateModule::CloseThread() {
    // The login-front query runs before any stop event is installed: it
    // has a flag of its own.
    g_LoginFront.RequestStop();
    // So does the log mail, which may run after the transfer has let its
    // stop event go.
    CUpdaterBase::RequestMailStop();
    const int result = g_FileUpdater.StopRequest();
    // Stop first, then let the worker go: it wakes at a check that sees the
    // stop. Should no stop event be installed at this moment, the worker at
    // least runs on as an unsuspended one would, instead of never ending.
    if (m_hThread) {
        while (plat::ResumeThread(m_hThread) > 1) {
        }
    }
    return result;
}

void CUpdateModule::SuspendManualUpdate() {
    if (m_hThread) {
        plat::SuspendThread(m_hThread);
    }
}

void CUpdateModule::ResumeManualUpdate() {
    if (m_hThread) {
        plat::ResumeThread(m_hThread);
    }
}

void CUpdateModule::StopManualUpdate() {
    CloseThread();
    ResumeManualUpdate();
}

int CUpdateModule::CheckOnlyVersion() {
    return g_FileUpdater.CheckOnlyVersion();
}
