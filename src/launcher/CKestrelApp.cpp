#include "launcher/CKestrelApp.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <cstdio>

#include "host/LanguageBundle.h"
#include "host/LauncherRules.h"
#include "launcher/CKestrelDlg.h"
#include "launcher/skin/SkinImage.h"
#include "platform/Desktop.h"
#include "platform/Path.h"
#include "updatemodule/UpdateModule.h"

namespace {

constexpr unsigned kIconBitmap = 128;

}  // namespace

CKestrelApp::CKestrelApp() = default;

CKestrelApp::~CKestrelApp() {
    for (guint source : m_signalSources) {
        g_source_remove(source);
    }
    m_dialog.reset();
    skin::SetResourceHandle(nullptr);
}

std::unique_ptr<plat::ResourceBundle> CKestrelApp::LoadResourceBundle() {
    return plat::ResourceBundle::Load(
        ChooseBundleFile(ReadLocaleEnvironment(), plat::GetModuleDir()));
}

int CKestrelApp::Run(int argc, char** argv) {
    g_set_prgname(kApplicationId);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "varn-launcher: cannot open a display (is DISPLAY set?)\n");
        return kExitCannotStart;
    }
    gdk_set_program_class(kApplicationId);
    g_set_application_name("Varn");

    m_bundle = LoadResourceBundle();
    if (!m_bundle) {
        GtkWidget* box =
            gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK,
                                   "%s", "Resource File Load Fail !!!");
        gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
        gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
        return kExitCannotStart;
    }
    skin::SetResourceHandle(m_bundle.get());
    SetWindowIcon();

    m_dialog = std::make_unique<CKestrelDlg>(m_bundle.get());
    // The session's end (or Ctrl-C in a terminal) closes the launcher the
    // way its close button does.
    for (int signal : plat::CloseRequestSignals()) {
        m_signalSources.push_back(g_unix_signal_add(signal, OnCloseSignal, this));
    }
    m_dialog->Open();
    gtk_main();
    if (CUpdateModule::IsLauncherHandOver()) {
        return HandOver();
    }
    return kExitOk;
}

int CKestrelApp::HandOver() {
    // The notice page's helper processes and the window go first: the new
    // launcher opens its own.
    m_dialog.reset();
    std::string error;
    CUpdateModule::ExecuteLauncherHandOver(&error);
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                            GTK_BUTTONS_OK, "%s", error.c_str());
    gtk_window_set_title(GTK_WINDOW(box), kUpdateProgramName);
    gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    return kExitHandOverFailed;
}

gboolean CKestrelApp::OnCloseSignal(gpointer self) {
    auto* app = static_cast<CKestrelApp*>(self);
    if (app->m_dialog) {
        app->m_dialog->RequestClose();
    }
    return G_SOURCE_CONTINUE;
}

void CKestrelApp::SetWindowIcon() const {
    const std::string path = m_bundle->BitmapPath(kIconBitmap);
    if (!path.empty()) {
        // Every window of the launcher; a missing icon is only cosmetic.
        gtk_window_set_default_icon_from_file(path.c_str(), nullptr);
    }
}
