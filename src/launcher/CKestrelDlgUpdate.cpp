// CKestrelDlg: the start-up work, the update's progress and the close
// handshake.
#include <algorithm>
#include <cstdlib>

#include "host/FirstRun.h"
#include "host/LauncherRules.h"
#include "host/PatchRoot.h"
#include "host/TransferSettings.h"
#include "launcher/CKestrelDlg.h"
#include "platform/Desktop.h"
#include "platform/Path.h"
#include "platform/Thread.h"
#include "updatemodule/UpdateModule.h"

namespace {

// The window takes the worker's notifications at most this often (about 30
// times a second): a fast download reports far more often than a screen
// can show.
constexpr guint kDrainIntervalMs = 33;
// Exit status when the worker would not stop and the process ended
// without it.
constexpr int kExitWorkerStuck = 2;

enum : unsigned {
    kPackWaitText = 119,
    kFinishingText = 136,
};

// The installed desktop entry, beside the launcher.
constexpr const char* kDesktopEntry = "varn-launcher.desktop";

enum : int {
    kPackerClose = 1,
    kPackerPercent = 2,
};

// Lives as long as the process: a worker may notify up to its very end.
CNotificationQueue g_notifications;

gboolean OnDrain(gpointer) {
    if (g_pMainDlg != nullptr) {
        g_pMainDlg->DrainNotifications();
    } else {
        g_notifications.TakeAll();
    }
    return G_SOURCE_REMOVE;
}

}  // namespace

void UpdateCallback(int32_t code, UPDATE_CALLBACK_INFO* info) {
    if (g_notifications.Push(code, info)) {
        // The queue's address tags the drain, so that the dialog can
        // remove one still due when it goes.
        g_timeout_add(kDrainIntervalMs, OnDrain, &g_notifications);
    }
}

CKestrelDlg::~CKestrelDlg() {
    // The page first: nothing of it may call into a dialog that goes.
    m_notice.reset();
    g_pMainDlg = nullptr;
    while (g_source_remove_by_user_data(&g_notifications)) {
    }
    if (m_startupSource != 0) {
        g_source_remove(m_startupSource);
    }
    if (m_shutdownTimer != 0) {
        g_source_remove(m_shutdownTimer);
    }
    if (window() != nullptr) {
        g_signal_handlers_disconnect_by_data(window(), this);
    }
    g_signal_handlers_disconnect_by_data(m_emblem, this);
    if (g_lpUpdateModule != nullptr) {
        // Only when the main loop ended some other way than the close
        // handshake: the module must not go while its worker runs.
        g_lpUpdateModule->CloseThread();
        while (g_lpUpdateModule->IsClosedThread() == 0) {
            Log("Not yet process completed...");
            plat::Sleep(CShutdownHandshake::kTickMs);
        }
        delete g_lpUpdateModule;
        g_lpUpdateModule = nullptr;
    }
}

void CKestrelDlg::Open() {
    GtkWidget* window = GTK_WIDGET(this->window());
    // The start-up work may wait (for a game that is still closing): it
    // begins once the window has been drawn, so the player sees it.
    g_signal_connect_after(window, "draw", G_CALLBACK(OnFirstDraw), this);
    gtk_widget_show(window);
}

gboolean CKestrelDlg::OnFirstDraw(GtkWidget* w, cairo_t*, gpointer self) {
    g_signal_handlers_disconnect_by_func(w, reinterpret_cast<gpointer>(OnFirstDraw), self);
    auto* dlg = static_cast<CKestrelDlg*>(self);
    if (dlg->m_startupSource == 0 && !dlg->m_shutdown.Closing()) {
        dlg->m_startupSource = g_idle_add(OnStartupIdle, self);
    }
    return FALSE;
}

gboolean CKestrelDlg::OnStartupIdle(gpointer self) {
    auto* dlg = static_cast<CKestrelDlg*>(self);
    dlg->m_startupSource = 0;
    dlg->StartupWork();
    // The page after the update has started: WebKit's processes start
    // while the worker already runs.
    if (!dlg->m_shutdown.Closing()) {
        dlg->m_notice->Navigate();
    }
    return G_SOURCE_REMOVE;
}

void CKestrelDlg::StartupWork() {
    if (m_shutdown.GetPhase() != CShutdownHandshake::Phase::Running || m_shutdown.Closing() ||
        g_lpUpdateModule == nullptr) {
        return;
    }
    CUpdateModule& module = *g_lpUpdateModule;
    module.SetParentProgamName(kGameProgramName);
    module.SetUpdateProgram(kUpdateProgramName);
    module.SetLauncherVersion(kLauncherVersion);
    const PatchRoot root = ReadPatchRoot(VersionIniPath());
    module.SetConnectInfo(root.host.c_str(), root.port, "", "", root.path.c_str(),
                          root.path.c_str(), 0, true, root.useFtp, SERVICE_TYPE_DEFAULT);
    ApplyTransferSettings(module, root, m_transfer);
    module.SetCallBack(this, &UpdateCallback);

    const StartupHousekeeping done = DoStartupHousekeeping(
        plat::GetCommandLine(), {m_appDir, plat::JoinPath(m_appDir, kDesktopEntry)},
        plat::GetUserDesktopDir(), m_urls.homePage);
    switch (AfterCheckCommandLine(module.CheckCommandLine(), done.copyHandOff)) {
        case StartupNext::Fail:
            FailStartup(true);
            return;
        case StartupNext::QuitAfterHandOff:
            RequestClose();
            return;
        case StartupNext::StartUpdate:
            break;
    }
    module.SetFullVersionDownload(0);
    module.SetResourceHandle(m_bundle);
    if (module.StartUpdate() == 0) {
        FailStartup(false);
    }
}

void CKestrelDlg::FailStartup(bool checksRefused) {
    const StartupFailure failure = PlanStartupFailure(
        checksRefused, g_notifications.SawFailure(), g_lpUpdateModule->GetLastErrorMsg(), m_bundle);
    for (const std::string& line : failure.logLines) {
        Log(line);
    }
    std::function<void()> then;
    if (failure.closeWindow) {
        then = [this] { RequestClose(); };
    }
    if (!failure.boxText.empty()) {
        ShowBox(CMessageBox::Kind::Error, failure.boxText, then);
    } else if (then) {
        then();
    }
}

void CKestrelDlg::DrainNotifications() {
    for (const CNotificationQueue::Item& item : g_notifications.TakeAll()) {
        // Texts and bars go on behind a message box; the steps of the
        // notification (boxes, the shutdown) wait for the box, in order.
        Apply(item);
        RunSteps();
    }
}

void CKestrelDlg::RunSteps() {
    while (!m_box && !m_steps.empty()) {
        const PresenterStep step = m_steps.front();
        m_steps.pop_front();
        RunPresenterStep(step);
    }
}

void CKestrelDlg::Apply(const CNotificationQueue::Item& item) {
    m_shutdown.OnNotification(item.code, item.info.nPercent);
    if (item.code >= NOTIFY_CHECK_FILE && item.code <= NOTIFY_CHECK_END) {
        OnCheckNotification(item.code, item.info);
        return;
    }
    if (m_packer) {
        if (item.code == NOTIFY_PERCENT) {
            PackerCommand(kPackerPercent,
                          static_cast<int>(std::min<uint64_t>(item.info.nPercent, 100)));
        }
        m_packer->SetText(Text(m_shutdown.PackClosing() ? kPackWaitText : kFinishingText));
    }
    const Presentation p =
        PresentNotification(item.code, item.info, {m_termsAgreed, m_shutdown.Closing()}, m_bundle);
    if (p.status) {
        m_status.SetText(StatusWithRateCap(*p.status, m_transfer.maxRate));
    }
    for (const std::string& line : p.logLines) {
        Log(line);
    }
    if (p.fileBar) {
        m_fileBar.SetPos(p.fileBar->position);
        m_filePercent.SetText(p.fileBar->text);
    }
    if (p.totalBar) {
        m_totalBar.SetPos(p.totalBar->position);
        m_totalPercent.SetText(p.totalBar->text);
    }
    if (p.updateComplete) {
        m_updateComplete = *p.updateComplete;
    }
    if (p.startBitmap) {
        m_start.LoadStrip(*p.startBitmap);
    }
    m_steps.insert(m_steps.end(), p.steps.begin(), p.steps.end());
}

void CKestrelDlg::RunPresenterStep(const PresenterStep& step) {
    switch (step.action) {
        case PresenterAction::ShowError:
            ShowBox(CMessageBox::Kind::Error, step.text, nullptr);
            break;
        case PresenterAction::ShowNotice:
            ShowBox(CMessageBox::Kind::Notice, step.text, nullptr);
            break;
        case PresenterAction::OpenHomePage:
            plat::OpenInBrowser(m_urls.homePage);
            break;
        case PresenterAction::StartShutdown:
            RunShutdown(m_shutdown.StartAfterFailure());
            break;
        case PresenterAction::CloseForHandOver:
            RequestClose();
            break;
    }
}

void CKestrelDlg::ShowBox(CMessageBox::Kind kind, const std::string& text,
                          std::function<void()> then) {
    m_boxes.push_back({kind, text, std::move(then)});
    if (!m_box) {
        ShowNextBox();
    }
}

void CKestrelDlg::ShowNextBox() {
    if (m_boxes.empty()) {
        return;
    }
    PendingBox next = std::move(m_boxes.front());
    m_boxes.pop_front();
    GtkWindow* owner = gtk_widget_get_visible(GTK_WIDGET(window())) ? window() : nullptr;
    m_box = std::make_unique<CMessageBox>(
        owner, next.kind, next.text,
        [this, then = std::move(next.then)]() mutable { OnBoxDismissed(std::move(then)); });
}

void CKestrelDlg::OnBoxDismissed(std::function<void()> then) {
    m_box.reset();
    if (then) {
        then();
    }
    ShowNextBox();
    // What waited behind the box goes on.
    RunSteps();
}

void CKestrelDlg::RequestClose() {
    if (m_startupSource != 0) {
        g_source_remove(m_startupSource);
        m_startupSource = 0;
    }
    RunShutdown(m_shutdown.RequestClose(g_lpUpdateModule != nullptr));
}

void CKestrelDlg::RunShutdown(const std::vector<ShutdownStep>& steps) {
    for (const ShutdownStep& step : steps) {
        switch (step.action) {
            case ShutdownAction::Log:
                Log(step.text);
                break;
            case ShutdownAction::CallCloseThread:
                if (g_lpUpdateModule != nullptr) {
                    g_lpUpdateModule->CloseThread();
                }
                break;
            case ShutdownAction::HideWindow:
                gtk_widget_hide(GTK_WIDGET(window()));
                break;
            case ShutdownAction::StartTimer:
                if (m_shutdownTimer == 0) {
                    m_shutdownTimer =
                        g_timeout_add(CShutdownHandshake::kTickMs, OnShutdownTick, this);
                }
                break;
            case ShutdownAction::StopTimer:
                // The tick that asked for it ends its own source.
                m_shutdownTimer = 0;
                break;
            case ShutdownAction::ShowFinishing:
                ShowFinishing();
                break;
            case ShutdownAction::DeleteModule:
                delete g_lpUpdateModule;
                g_lpUpdateModule = nullptr;
                break;
            case ShutdownAction::Quit:
                if (!m_quit) {
                    m_quit = true;
                    gtk_main_quit();
                }
                break;
            case ShutdownAction::ForceQuit:
                // The worker is stuck outside any pack close; deleting the
                // module under it would crash, waiting would keep the game
                // directory's lock for ever.
                std::_Exit(kExitWorkerStuck);
        }
    }
}

gboolean CKestrelDlg::OnShutdownTick(gpointer self) {
    auto* dlg = static_cast<CKestrelDlg*>(self);
    const bool haveModule = g_lpUpdateModule != nullptr;
    const bool closed = !haveModule || g_lpUpdateModule->IsClosedThread() != 0;
    dlg->RunShutdown(dlg->m_shutdown.OnTick(haveModule, closed));
    return dlg->m_shutdownTimer != 0 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void CKestrelDlg::ShowFinishing() {
    if (!m_packer) {
        PackerCommand(0, 0);
    }
    m_packer->SetText(Text(m_shutdown.PackClosing() ? kPackWaitText : kFinishingText));
}

void CKestrelDlg::PackerCommand(int command, int value) {
    if (!m_packer) {
        const bool shown = gtk_widget_get_visible(GTK_WIDGET(window()));
        m_packer = std::make_unique<CPackerMessageDlg>(shown ? window() : nullptr);
        return;
    }
    switch (command) {
        case kPackerClose:
            m_packer.reset();
            break;
        case kPackerPercent:
            m_packer->SetPercent(value);
            break;
        default:
            break;
    }
}
