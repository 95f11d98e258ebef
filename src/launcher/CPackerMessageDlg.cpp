#include "launcher/CPackerMessageDlg.h"

#include <algorithm>

#include "base/UpdateTypes.h"
#include "host/LauncherRules.h"
#include "platform/Resource.h"

namespace {

enum : unsigned {
    kBackgroundBitmap = 182,
    kTextBitmap = 179,
    kBarBitmap = 141,
    kWaitText = 119,
};

constexpr int kTextPoints = 8;
constexpr uint32_t kWhite = 0xFFFFFF;

std::string BundleText(unsigned id) {
    char buf[kStringBuffer] = "";
    plat::LoadResourceString(skin::GetResourceHandle(), id, buf, sizeof(buf));
    return buf;
}

}  // namespace

CPackerMessageDlg::CPackerMessageDlg(GtkWindow* owner) : m_text(kTextPoints) {
    GtkWindow* window = this->window();
    gtk_window_set_title(window, kUpdateProgramName);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_deletable(window, FALSE);
    if (owner != nullptr && gtk_widget_get_visible(GTK_WIDGET(owner))) {
        gtk_window_set_transient_for(window, owner);
    }
    SetBackground(kBackgroundBitmap);
    SetDrawMode(skin::kDrawFitWindow);
    SetTransparent(skin::kColourKey, true);

    Place(m_bar.widget(), 75, 67, kBarRange, 20);
    m_bar.SetBitmap(kBarBitmap);
    m_bar.SetRange(kBarRange);
    m_bar.SetPos(0);
    Place(m_text.widget(), 35, 30, 377, 12);
    m_text.SetTextColor(kWhite);
    m_text.SetBackground(kTextBitmap);
    m_text.SetText(BundleText(kWaitText));

    g_signal_connect(window, "key-press-event", G_CALLBACK(OnKey), this);
    // Closing is the owner's decision, not the window manager's.
    g_signal_connect(window, "delete-event", G_CALLBACK(gtk_true), nullptr);
    gtk_widget_show(GTK_WIDGET(window));
}

void CPackerMessageDlg::SetText(const std::string& text) {
    m_text.SetText(text);
}

void CPackerMessageDlg::SetPercent(int percent) {
    m_bar.SetPos(std::clamp(percent, 0, 100) * kBarRange / 100);
}

gboolean CPackerMessageDlg::OnKey(GtkWidget*, GdkEventKey* e, gpointer) {
    return e->keyval == GDK_KEY_Return || e->keyval == GDK_KEY_KP_Enter ||
           e->keyval == GDK_KEY_ISO_Enter || e->keyval == GDK_KEY_Escape;
}
