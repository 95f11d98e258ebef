// CNoticeBrowser: the notice page in the main window's browser area, shown
// by a WebKit view. This class only connects the view's signals to the
// host layer's decisions (NoticePolicy, NoticeExternal) and carries them
// out: navigation and its retries, the key filter, no context menu, no
// printing, no downloads, no new windows inside the launcher, the page's
// alert and confirm as the launcher's message boxes, and window.external.
//
// The page runs in WebKit's own processes (sandboxed, with no storage on
// disk): nothing here waits for them, so a page that never finishes
// loading holds up neither the update nor the close button.
//
// Main thread only. Lifetime: made with the window, navigated once the
// start-up work has begun, destroyed before the window.
#pragma once
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>

#include "host/NoticePolicy.h"
#include "launcher/CMessageBox.h"

class CNoticeBrowser {
public:
    struct Hooks {
        // The notice address, read afresh on every navigation (the first
        // call has first = true).
        std::function<std::string(bool first)> noticeUrl;
        // One line for the update log, without its "\n".
        std::function<void(const std::string&)> log;
        // The page called CB_Close: the launcher closes as by its close
        // button. May be called from inside a WebKit signal.
        std::function<void()> closeLauncher;
    };

    // Puts the view into area (a box the window placed); nothing loads
    // yet. owner: the window the page's message boxes belong to
    // (borrowed, outlives this object).
    CNoticeBrowser(GtkWidget* area, GtkWindow* owner, Hooks hooks);
    // Answers a page dialog still open with Cancel, drops a retry still
    // due and destroys the view; returns at once.
    ~CNoticeBrowser();
    CNoticeBrowser(const CNoticeBrowser&) = delete;
    CNoticeBrowser& operator=(const CNoticeBrowser&) = delete;

    // Gets the notice address, logs "URL : %s" and loads it. An address
    // that is not http(s) is logged and not loaded.
    void Navigate();
    // True when the page has the keyboard focus (its forms take Enter and
    // Escape then).
    bool HasFocus() const;

private:
    void ConnectSignals();
    // What a failed or refused load of the page means for the retries;
    // true when a new navigation is on its way.
    bool OnPageFailure(NoticeFailure failure, const std::string& uri, const std::string& what);
    void FinishPageDialog(bool ok);

    static gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer self);
    gboolean DecideNavigation(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    gboolean DecideResponse(WebKitResponsePolicyDecision* decision);
    static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri,
                                 GError* error, gpointer self);
    static gboolean OnScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer self);
    static void OnScriptMessage(WebKitUserContentManager* manager, WebKitJavascriptResult* result,
                                gpointer self);
    static gboolean OnKey(GtkWidget* view, GdkEventKey* event, gpointer self);
    static void OnDownload(WebKitWebContext* context, WebKitDownload* download, gpointer self);
    static void OnProcessEnded(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                               gpointer self);
    static gboolean OnRetry(gpointer self);

    GtkWindow* const m_owner;
    const Hooks m_hooks;
    const std::string m_secret;
    WebKitWebContext* m_context = nullptr;
    WebKitUserContentManager* m_content = nullptr;
    GtkWidget* m_view = nullptr;
    CNoticeRetries m_retries;
    // The address the view was last sent to.
    std::string m_noticeUrl;
    bool m_firstNavigation = true;
    guint m_retrySource = 0;
    // The page's dialog that waits for its message box.
    WebKitScriptDialog* m_pageDialog = nullptr;
    std::unique_ptr<CMessageBox> m_box;
};
