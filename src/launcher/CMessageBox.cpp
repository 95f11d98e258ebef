#include "launcher/CMessageBox.h"

#include <utility>

#include "host/LauncherRules.h"

CMessageBox::CMessageBox(GtkWindow* owner, Kind kind, const std::string& text,
                         std::function<void()> onDismissed)
    : CMessageBox(owner, kind, text, kUpdateProgramName, false,
                  [then = std::move(onDismissed)](bool) {
                      if (then) {
                          then();
                      }
                  }) {}

CMessageBox::CMessageBox(GtkWindow* owner, Kind kind, const std::string& text,
                         const std::string& caption, bool askCancel,
                         std::function<void(bool ok)> onAnswer)
    : m_onAnswer(std::move(onAnswer)) {
    const GtkMessageType type = kind == Kind::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO;
    // The text is the argument of a fixed "%s": error records, bundle
    // texts and pages' messages may hold "%" and "<" and are shown as they
    // are.
    m_dialog = gtk_message_dialog_new(
        owner, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), type,
        askCancel ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_dialog_set_default_response(GTK_DIALOG(m_dialog), GTK_RESPONSE_OK);
    gtk_window_set_title(GTK_WINDOW(m_dialog), caption.c_str());
    gtk_window_set_position(GTK_WINDOW(m_dialog),
                            owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(m_dialog), FALSE);
    // Any response (OK, Escape, the window manager's close) dismisses it.
    g_signal_connect(m_dialog, "response", G_CALLBACK(OnResponse), this);
    g_signal_connect(m_dialog, "destroy", G_CALLBACK(OnDestroy), this);
    gtk_widget_show(m_dialog);
}

CMessageBox::~CMessageBox() {
    if (m_dialog != nullptr) {
        g_signal_handlers_disconnect_by_data(m_dialog, this);
        gtk_widget_destroy(m_dialog);
    }
}

void CMessageBox::OnResponse(GtkDialog* dialog, gint response, gpointer self) {
    auto* box = static_cast<CMessageBox*>(self);
    g_signal_handlers_disconnect_by_data(dialog, box);
    gtk_widget_destroy(GTK_WIDGET(dialog));
    box->m_dialog = nullptr;
    // Last: the owner may delete the box from here.
    std::function<void(bool)> then = std::move(box->m_onAnswer);
    if (then) {
        then(response == GTK_RESPONSE_OK);
    }
}

void CMessageBox::OnDestroy(GtkWidget*, gpointer self) {
    static_cast<CMessageBox*>(self)->m_dialog = nullptr;
}
