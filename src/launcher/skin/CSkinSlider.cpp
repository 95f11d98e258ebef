#include "launcher/skin/CSkinSlider.h"

#include "launcher/skin/SkinPaint.h"

namespace {

constexpr const char* kSkinnedClass = "varn-skinned-channel";

// With a channel bitmap the theme's trough and fill are not drawn; the
// bitmap painted before the default drawing shows through.
void InstallTroughStyle() {
    static bool installed = false;
    if (installed) {
        return;
    }
    GdkScreen* screen = gdk_screen_get_default();
    if (screen == nullptr) {
        return;
    }
    installed = true;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(
        css,
        "scale.varn-skinned-channel trough,"
        "scale.varn-skinned-channel trough highlight,"
        "scale.varn-skinned-channel trough fill {"
        " background: none; border-color: transparent;"
        " box-shadow: none; outline: none; }"
        // The thumb in the skin's colours, sized for a 20-pixel channel.
        "scale.varn-skinned-channel { padding: 0 7px; }"
        "scale.varn-skinned-channel trough { min-height: 4px; }"
        "scale.varn-skinned-channel slider {"
        " min-width: 9px; min-height: 14px; margin: -5px -4px; border-radius: 2px;"
        " border: 1px solid #0F1B30; box-shadow: none; outline: none;"
        " background-image: linear-gradient(to bottom, #6C9BE0, #2D4F84); }"
        "scale.varn-skinned-channel slider:hover {"
        " border-color: #9CC2FA;"
        " background-image: linear-gradient(to bottom, #8CB8F4, #3C5D90); }"
        "scale.varn-skinned-channel slider:active {"
        " background-image: linear-gradient(to bottom, #263F68, #182842); }",
        -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

}  // namespace

CSkinSlider::CSkinSlider(double min, double max, double step)
    : SkinWidget(gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, min, max, step)) {
    gtk_scale_set_draw_value(GTK_SCALE(m_widget), FALSE);
    Connect("draw", G_CALLBACK(OnDraw));
}

int CSkinSlider::SetChannelBitmap(unsigned id) {
    m_channel = SkinImage::Load(id);
    GtkStyleContext* style = gtk_widget_get_style_context(m_widget);
    if (m_channel.empty()) {
        gtk_style_context_remove_class(style, kSkinnedClass);
    } else {
        InstallTroughStyle();
        gtk_style_context_add_class(style, kSkinnedClass);
    }
    Redraw();
    return m_channel.empty() ? 0 : 1;
}

gboolean CSkinSlider::OnDraw(GtkWidget* w, cairo_t* cr, gpointer self) {
    const CSkinSlider* s = Self<CSkinSlider>(self);
    const skin::Rect client{0, 0, gtk_widget_get_allocated_width(w),
                            gtk_widget_get_allocated_height(w)};
    skin::PaintPlan(
        cr, s->m_channel.surface(),
        skin::StretchPlan(kChannelSource, s->m_channel.width(), s->m_channel.height(), client));
    return FALSE;  // the theme draws the thumb on top
}
