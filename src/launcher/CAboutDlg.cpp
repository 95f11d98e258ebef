#include "launcher/CAboutDlg.h"

#include <string>

#include "host/LauncherRules.h"
#include "launcher/skin/SkinImage.h"

namespace {

constexpr unsigned kIconBitmap = 128;
constexpr int kIconSize = 64;

GtkWidget* IconImage() {
    const plat::ResourceHandle bundle = skin::GetResourceHandle();
    const std::string path =
        (bundle ? bundle : plat::ResourceBundle::Base())->BitmapPath(kIconBitmap);
    GdkPixbuf* icon = path.empty() ? nullptr
                                   : gdk_pixbuf_new_from_file_at_size(path.c_str(), kIconSize,
                                                                      kIconSize, nullptr);
    if (icon == nullptr) {
        return gtk_image_new_from_icon_name("applications-games", GTK_ICON_SIZE_DIALOG);
    }
    GtkWidget* image = gtk_image_new_from_pixbuf(icon);
    g_object_unref(icon);
    return image;
}

}  // namespace

CAboutDlg::CAboutDlg(GtkWindow* owner) {
    m_dialog = gtk_dialog_new_with_buttons(
        "Kestrel Information", owner,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), "_OK",
        GTK_RESPONSE_OK, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(m_dialog), FALSE);
    gtk_window_set_position(GTK_WINDOW(m_dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    gtk_container_set_border_width(GTK_CONTAINER(row), 16);
    gtk_box_pack_start(GTK_BOX(row), IconImage(), FALSE, FALSE, 0);
    GtkWidget* name = gtk_label_new("Varn Launcher");
    GtkWidget* version = gtk_label_new((std::string("ver ") + kLauncherVersion).c_str());
    PangoAttrList* bold = pango_attr_list_new();
    pango_attr_list_insert(bold, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    gtk_label_set_attributes(GTK_LABEL(name), bold);
    pango_attr_list_unref(bold);
    GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_widget_set_valign(texts, GTK_ALIGN_CENTER);
    gtk_widget_set_halign(name, GTK_ALIGN_START);
    gtk_widget_set_halign(version, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(texts), name, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(texts), version, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), texts, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(m_dialog))), row, TRUE, TRUE,
                       0);
    gtk_dialog_set_default_response(GTK_DIALOG(m_dialog), GTK_RESPONSE_OK);
    g_signal_connect(m_dialog, "response", G_CALLBACK(OnResponse), this);
    g_signal_connect(m_dialog, "destroy", G_CALLBACK(OnDestroy), this);
    gtk_widget_show_all(m_dialog);
}

CAboutDlg::~CAboutDlg() {
    if (m_dialog != nullptr) {
        g_signal_handlers_disconnect_by_data(m_dialog, this);
        gtk_widget_destroy(m_dialog);
    }
}

void CAboutDlg::Present() {
    if (m_dialog != nullptr) {
        gtk_window_present(GTK_WINDOW(m_dialog));
    }
}

void CAboutDlg::OnResponse(GtkDialog* dialog, gint, gpointer self) {
    auto* about = static_cast<CAboutDlg*>(self);
    g_signal_handlers_disconnect_by_data(dialog, about);
    gtk_widget_destroy(GTK_WIDGET(dialog));
    about->m_dialog = nullptr;
}

void CAboutDlg::OnDestroy(GtkWidget*, gpointer self) {
    static_cast<CAboutDlg*>(self)->m_dialog = nullptr;
}
