#include "launcher/CNoticeBrowser.h"

#include <utility>

#include "host/NoticeExternal.h"
#include "platform/Desktop.h"

namespace {

// Why WebKit ended a load of the page, in the host layer's terms.
NoticeFailure Classify(const GError* error) {
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) {
        return NoticeFailure::Cancelled;
    }
    // The view's own refusals (a scheme, a response it would not show)
    // and loads that became downloads, which are cancelled.
    if (g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
        g_error_matches(error, WEBKIT_PLUGIN_ERROR, WEBKIT_PLUGIN_ERROR_WILL_HANDLE_LOAD) ||
        error->domain == WEBKIT_DOWNLOAD_ERROR) {
        return NoticeFailure::Blocked;
    }
    return NoticeFailure::Network;
}

PageDialog DialogOf(WebKitScriptDialogType type) {
    switch (type) {
        case WEBKIT_SCRIPT_DIALOG_ALERT:
            return PageDialog::Alert;
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            return PageDialog::Confirm;
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            return PageDialog::BeforeUnload;
        case WEBKIT_SCRIPT_DIALOG_PROMPT:
        default:
            return PageDialog::Prompt;
    }
}

// F5 and the letters, as the key filter numbers them; 0 for other keys.
unsigned VirtualKey(guint keyval) {
    if (keyval == GDK_KEY_F5) {
        return kVirtualKeyF5;
    }
    const guint upper = gdk_keyval_to_upper(keyval);
    return upper >= GDK_KEY_A && upper <= GDK_KEY_Z ? 'A' + (upper - GDK_KEY_A) : 0;
}

std::string StringProperty(JSCValue* object, const char* name) {
    std::string out;
    JSCValue* value = jsc_value_object_get_property(object, name);
    if (value != nullptr && jsc_value_is_string(value)) {
        char* text = jsc_value_to_string(value);
        out = text != nullptr ? text : "";
        g_free(text);
    }
    if (value != nullptr) {
        g_object_unref(value);
    }
    return out;
}

double NumberProperty(JSCValue* object, const char* name) {
    double out = 0;
    JSCValue* value = jsc_value_object_get_property(object, name);
    if (value != nullptr && jsc_value_is_number(value)) {
        out = jsc_value_to_double(value);
    }
    if (value != nullptr) {
        g_object_unref(value);
    }
    return out;
}

}  // namespace

CNoticeBrowser::CNoticeBrowser(GtkWidget* area, GtkWindow* owner, Hooks hooks)
    : m_owner(owner), m_hooks(std::move(hooks)), m_secret(NewExternalSecret()) {
    // Nothing the page does is kept on disk; the page's process runs in
    // WebKit's sandbox (WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1 is
    // WebKit's own way out where the system cannot provide one).
    m_context = webkit_web_context_new_ephemeral();
    webkit_web_context_set_sandbox_enabled(m_context, TRUE);
    webkit_web_context_set_cache_model(m_context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    webkit_website_data_manager_set_tls_errors_policy(
        webkit_web_context_get_website_data_manager(m_context), WEBKIT_TLS_ERRORS_POLICY_FAIL);
    m_content = webkit_user_content_manager_new();
    WebKitSettings* settings = webkit_settings_new_with_settings(
        "enable-developer-extras", FALSE, "javascript-can-open-windows-automatically", FALSE,
        "javascript-can-access-clipboard", FALSE, "enable-write-console-messages-to-stdout", FALSE,
        "allow-file-access-from-file-urls", FALSE, "allow-universal-access-from-file-urls", FALSE,
        "enable-back-forward-navigation-gestures", FALSE, nullptr);
    m_view =
        GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", m_context,
                                "user-content-manager", m_content, "settings", settings, nullptr));
    g_object_unref(settings);
    ConnectSignals();
    gtk_box_pack_start(GTK_BOX(area), m_view, TRUE, TRUE, 0);
    gtk_widget_show(m_view);
}

CNoticeBrowser::~CNoticeBrowser() {
    if (m_retrySource != 0) {
        g_source_remove(m_retrySource);
    }
    m_box.reset();
    if (m_pageDialog != nullptr) {
        FinishPageDialog(false);
    }
    g_signal_handlers_disconnect_by_data(m_context, this);
    g_signal_handlers_disconnect_by_data(m_content, this);
    g_signal_handlers_disconnect_by_data(m_view, this);
    webkit_user_content_manager_unregister_script_message_handler(m_content, kExternalChannel);
    gtk_widget_destroy(m_view);
    g_object_unref(m_content);
    g_object_unref(m_context);
}

void CNoticeBrowser::ConnectSignals() {
    g_signal_connect(m_context, "download-started", G_CALLBACK(OnDownload), this);
    // The handler first, then the channel: no message can come unheard.
    const std::string detail = std::string("script-message-received::") + kExternalChannel;
    g_signal_connect(m_content, detail.c_str(), G_CALLBACK(OnScriptMessage), this);
    webkit_user_content_manager_register_script_message_handler(m_content, kExternalChannel);

    g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(m_view, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(m_view, "script-dialog", G_CALLBACK(OnScriptDialog), this);
    g_signal_connect(m_view, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(OnProcessEnded), this);
    // The browser's own interface is the launcher's: no menu, no printing,
    // no full screen, no new views.
    g_signal_connect(m_view, "context-menu", G_CALLBACK(gtk_true), this);
    g_signal_connect(m_view, "print", G_CALLBACK(gtk_true), this);
    g_signal_connect(m_view, "enter-fullscreen", G_CALLBACK(gtk_true), this);
    g_signal_connect(m_view, "create",
                     G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*,
                                    gpointer) -> GtkWidget* { return nullptr; }),
                     this);
    // Nothing of the player's computer is the page's: no camera, place,
    // notifications, files or passwords.
    g_signal_connect(m_view, "permission-request",
                     G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
                         webkit_permission_request_deny(request);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(m_view, "run-file-chooser",
                     G_CALLBACK(+[](WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
                         webkit_file_chooser_request_cancel(request);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(
        m_view, "authenticate",
        G_CALLBACK(+[](WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
            webkit_authentication_request_cancel(request);
            return TRUE;
        }),
        this);
}

void CNoticeBrowser::Navigate() {
    m_noticeUrl = m_hooks.noticeUrl(m_firstNavigation);
    m_firstNavigation = false;
    m_hooks.log("URL : " + m_noticeUrl);
    if (!IsWebAddress(m_noticeUrl)) {
        m_hooks.log("Notice page not shown: not a web address");
        return;
    }
    // The external object belongs to this address's origin.
    webkit_user_content_manager_remove_all_scripts(m_content);
    WebKitUserScript* script = webkit_user_script_new(
        ExternalObjectScript(m_noticeUrl, m_secret).c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(m_content, script);
    webkit_user_script_unref(script);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(m_view), m_noticeUrl.c_str());
}

bool CNoticeBrowser::HasFocus() const {
    return gtk_widget_is_focus(m_view);
}

bool CNoticeBrowser::OnPageFailure(NoticeFailure failure, const std::string& uri,
                                   const std::string& what) {
    switch (m_retries.OnFailure(failure)) {
        case RetryDecision::Ignore:
            return false;
        case RetryDecision::GiveUp:
            m_hooks.log("NavigateError [" + uri + "] " + what + " : no retries left");
            return false;
        case RetryDecision::Retry:
            break;
    }
    m_hooks.log("NavigateError [" + uri + "] " + what + " : navigating again (" +
                std::to_string(m_retries.Left()) + " left)");
    // Not from inside WebKit's signal: the new load starts from the loop.
    if (m_retrySource == 0) {
        m_retrySource = g_idle_add(OnRetry, this);
    }
    return true;
}

gboolean CNoticeBrowser::OnRetry(gpointer self) {
    auto* browser = static_cast<CNoticeBrowser*>(self);
    browser->m_retrySource = 0;
    browser->Navigate();
    return G_SOURCE_REMOVE;
}

gboolean CNoticeBrowser::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                        WebKitPolicyDecisionType type, gpointer self) {
    auto* browser = static_cast<CNoticeBrowser*>(self);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        return browser->DecideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
    }
    return browser->DecideNavigation(decision, type);
}

gboolean CNoticeBrowser::DecideNavigation(WebKitPolicyDecision* decision,
                                          WebKitPolicyDecisionType type) {
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const std::string uri =
        webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        if (DecideNewWindow(uri, webkit_navigation_action_is_user_gesture(action)) ==
            NewWindowVerdict::OpenInBrowser) {
            plat::OpenInBrowser(uri);
        }
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    if (::DecideNavigation(uri) == NavigationVerdict::Block) {
        m_hooks.log("Notice page: navigation refused [" + uri + "]");
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    return FALSE;
}

gboolean CNoticeBrowser::DecideResponse(WebKitResponsePolicyDecision* decision) {
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    const unsigned status = webkit_uri_response_get_status_code(response);
    // WebKit shows an error status as a page: for the notice page it is a
    // failed load like a refused connection.
    if (webkit_response_policy_decision_is_main_frame_main_resource(decision) &&
        IsHttpErrorStatus(status)) {
        const std::string uri = webkit_uri_response_get_uri(response);
        if (OnPageFailure(NoticeFailure::HttpStatus, uri, "HTTP " + std::to_string(status))) {
            webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
        } else {
            webkit_policy_decision_use(WEBKIT_POLICY_DECISION(decision));
        }
        return TRUE;
    }
    // What the view cannot show would become a download: none.
    if (!webkit_response_policy_decision_is_mime_type_supported(decision)) {
        webkit_policy_decision_ignore(WEBKIT_POLICY_DECISION(decision));
        return TRUE;
    }
    return FALSE;
}

gboolean CNoticeBrowser::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                      gpointer self) {
    auto* browser = static_cast<CNoticeBrowser*>(self);
    // A retry replaces WebKit's error page; the last failure keeps it.
    return browser->OnPageFailure(Classify(error), uri != nullptr ? uri : "", error->message);
}

gboolean CNoticeBrowser::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
    auto* browser = static_cast<CNoticeBrowser*>(self);
    const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    const PageDialogPlan plan = PlanPageDialog(DialogOf(type));
    if (plan == PageDialogPlan::Leave) {
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return TRUE;
    }
    // A prompt gets no answer (null); a second dialog while one shows
    // (the page waits for the first) gets Cancel.
    if (plan == PageDialogPlan::Refuse || browser->m_pageDialog != nullptr) {
        if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM) {
            webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
        }
        return TRUE;
    }
    // The page waits until the box has been answered; the window goes on.
    browser->m_pageDialog = webkit_script_dialog_ref(dialog);
    browser->m_box = std::make_unique<CMessageBox>(
        browser->m_owner, CMessageBox::Kind::Error, webkit_script_dialog_get_message(dialog),
        kPageBoxCaption, plan == PageDialogPlan::ShowOkCancel,
        [browser](bool ok) { browser->FinishPageDialog(ok); });
    return TRUE;
}

void CNoticeBrowser::FinishPageDialog(bool ok) {
    WebKitScriptDialog* dialog = std::exchange(m_pageDialog, nullptr);
    if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_CONFIRM) {
        webkit_script_dialog_confirm_set_confirmed(dialog, ok);
    }
    webkit_script_dialog_close(dialog);
    webkit_script_dialog_unref(dialog);
}

void CNoticeBrowser::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                     gpointer self) {
    auto* browser = static_cast<CNoticeBrowser*>(self);
    JSCValue* message = webkit_javascript_result_get_js_value(result);
    ExternalCall call;
    if (jsc_value_is_object(message)) {
        call.secret = StringProperty(message, "secret");
        call.name = StringProperty(message, "name");
        call.text = StringProperty(message, "text");
        call.number = NumberProperty(message, "number");
    }
    const char* page = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(browser->m_view));
    const ExternalOutcome outcome =
        DispatchExternal(call, browser->m_secret, browser->m_noticeUrl, page ? page : "");
    if (!outcome.logLine.empty()) {
        browser->m_hooks.log(outcome.logLine);
    }
    if (outcome.verdict == ExternalVerdict::CloseLauncher) {
        browser->m_hooks.closeLauncher();
    }
}

gboolean CNoticeBrowser::OnKey(GtkWidget*, GdkEventKey* event, gpointer) {
    const NoticeKey key{event->type == GDK_KEY_PRESS, VirtualKey(event->keyval),
                        (event->state & GDK_CONTROL_MASK) != 0};
    return NoticeKeyBlocked(key);
}

void CNoticeBrowser::OnDownload(WebKitWebContext*, WebKitDownload* download, gpointer self) {
    static_cast<CNoticeBrowser*>(self)->m_hooks.log("Notice page: download refused");
    webkit_download_cancel(download);
}

void CNoticeBrowser::OnProcessEnded(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                    gpointer self) {
    static_cast<CNoticeBrowser*>(self)->m_hooks.log("Notice page: its process ended (" +
                                                    std::to_string(int(reason)) + ")");
}
