// CKestrelDlg: the launcher's main window. It owns the one update module
// (g_lpUpdateModule), configures and starts it, shows the update's progress
// and offers the launcher's buttons. What the window decides is computed
// by the host layer (UpdatePresenter, LauncherRules, ShutdownHandshake,
// FirstRun); this class builds the controls and carries the decisions out.
//
// Threads: everything here runs on the GTK main thread. The update worker
// reaches the window only through UpdateCallback, which queues a copy of
// each notification and wakes the main loop; it never touches a widget and
// never waits for the window.
//
// Lifetime: construct, Open, run the main loop until the window quits it
// (the close handshake, a start-up failure or a started game), destroy.
#pragma once
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/UpdateTypes.h"
#include "host/NotificationQueue.h"
#include "host/ShutdownHandshake.h"
#include "host/TransferSettings.h"
#include "host/UpdatePresenter.h"
#include "host/VersionIni.h"
#include "launcher/CAboutDlg.h"
#include "launcher/CMessageBox.h"

#include "launcher/CNoticeBrowser.h"
#include "launcher/COptionDlg.h"
#include "launcher/CPackerMessageDlg.h"
#include "launcher/skin/CHoverButton.h"
#include "launcher/skin/CSkinDialog.h"
#include "launcher/skin/CStaticEx.h"
#include "launcher/skin/CTextEx.h"
#include "platform/Resource.h"

class CUpdateModule;
class CKestrelDlg;

// The one update module; created by the dialog, deleted once its worker
// has ended (or by the dialog's destructor). Main thread only.
extern CUpdateModule* g_lpUpdateModule;
// The main dialog while it exists; null before and after. Main thread only.
extern CKestrelDlg* g_pMainDlg;

// The progress callback given to the module: copies the record into the
// window's queue and wakes the main loop. Any thread; returns at once.
void UpdateCallback(int32_t code, UPDATE_CALLBACK_INFO* info);

class CKestrelDlg : public CSkinDialog {
public:
    // Creates the module (its constructor reads the launcher type file)
    // and the window with every control in place; nothing is shown yet.
    // bundle: the language bundle, borrowed for the dialog's lifetime.
    explicit CKestrelDlg(plat::ResourceHandle bundle);
    // Stops the main loop's sources first, then waits for a worker that
    // still runs and deletes the module.
    ~CKestrelDlg() override;

    // Shows the window and starts the start-up work from the main loop.
    void Open();
    // The close button, the window manager and the session's end signals
    // all close through here: the worker is asked to stop and the window
    // quits the main loop once it has.
    void RequestClose();
    // The secondary progress window: any command opens it when it is not
    // open; then command 1 closes it and command 2 moves its bar to value
    // percent. Other commands do nothing. Reachable only from this process.
    void PackerCommand(int command, int value);
    // Takes the notifications waiting in the queue and shows them (the
    // main loop calls it after UpdateCallback woke it).
    void DrainNotifications();

private:
    // --- building (CKestrelDlg.cpp) ---
    void PlaceControls();
    void CreateNoticeBrowser();
    void SetUpButtons();
    void SetUpTexts();
    void SetUpTitleMenu();
    void Connect(CHoverButton& button, void (CKestrelDlg::*handler)());
    std::string Text(unsigned id) const;
    // SaveUpdateLog("%s\n", text) while the module exists.
    void Log(const std::string& text) const;

    // --- buttons and window events (CKestrelDlg.cpp) ---
    void OnStart();
    void OnTerms();
    void OnHomePage();
    void OnFaq();
    void OnScreenshots();
    void OnOptions();
    void OnAbout();
    // "Repair game files" (CKestrelDlgRepair.cpp): the installation check
    // with repair, once the update has ended; notifications 18-20.
    void OnRepair();
    void OnCheckNotification(int32_t code, const UPDATE_CALLBACK_INFO& info);
    // The DirectX check before the game starts; a refusal leaves its reason
    // as the module's last error.
    bool DirectXAccepted();
    // The DirectX diagnostics button (CKestrelDlgDirectX.cpp).
    void OnDirectX();
    static gboolean OnDelete(GtkWidget* w, GdkEvent* e, gpointer self);
    static gboolean OnKey(GtkWidget* w, GdkEventKey* e, gpointer self);
    static gboolean OnWindowPress(GtkWidget* w, GdkEventButton* e, gpointer self);
    static gboolean OnEmblemPress(GtkWidget* w, GdkEventButton* e, gpointer self);

    // --- start-up, progress and shutdown (CKestrelDlgUpdate.cpp) ---
    static gboolean OnFirstDraw(GtkWidget* w, cairo_t* cr, gpointer self);
    static gboolean OnStartupIdle(gpointer self);
    void StartupWork();
    void FailStartup(bool checksRefused);
    // Carries out the waiting presenter steps in order until a message box
    // stops it or none is left.
    void RunSteps();
    void Apply(const CNotificationQueue::Item& item);
    void RunPresenterStep(const PresenterStep& step);
    // Queues a message box; boxes show one at a time, in order.
    void ShowBox(CMessageBox::Kind kind, const std::string& text, std::function<void()> then);
    void ShowNextBox();
    void OnBoxDismissed(std::function<void()> then);
    void RunShutdown(const std::vector<ShutdownStep>& steps);
    static gboolean OnShutdownTick(gpointer self);
    void ShowFinishing();

    struct PendingBox {
        CMessageBox::Kind kind;
        std::string text;
        std::function<void()> then;
    };

    const plat::ResourceHandle m_bundle;
    const std::string m_appDir;
    const DeploymentUrls m_urls;
    const TransferSettings m_transfer;
    bool m_updateComplete = false;
    bool m_checking = false;  // a repair runs on the module's worker
    bool m_termsAgreed = false;
    CShutdownHandshake m_shutdown;

    // The browser area (1101) is drawn first, so the status line lies
    // above it.
    GtkWidget* m_browserArea = nullptr;
    std::unique_ptr<CNoticeBrowser> m_notice;
    CTextEx m_status;        // 1013
    CTextEx m_title;         // 1012
    CTextEx m_filePercent;   // 1022
    CTextEx m_totalPercent;  // 1011
    CStaticEx m_fileBar;     // 1027
    CStaticEx m_totalBar;    // 1029
    CHoverButton m_start;    // 1024
    CHoverButton m_close;    // 1050
    CHoverButton m_home;     // 1025
    CHoverButton m_home2;    // 1023
    CHoverButton m_faq;      // 1034
    CHoverButton m_options;  // 1021
    CHoverButton m_directX;  // 1030
    CHoverButton m_shots;    // 1028
    CHoverButton m_terms;    // 1031
    GtkWidget* m_emblem = nullptr;
    GtkWidget* m_menu = nullptr;

    std::deque<PresenterStep> m_steps;
    std::deque<PendingBox> m_boxes;
    std::unique_ptr<CMessageBox> m_box;
    std::unique_ptr<CPackerMessageDlg> m_packer;
    std::unique_ptr<CAboutDlg> m_about;
    std::unique_ptr<COptionDlg> m_optionDlg;
    guint m_startupSource = 0;
    guint m_shutdownTimer = 0;
    bool m_quit = false;
};
