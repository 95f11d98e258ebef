#include "launcher/skin/CTextEx.h"

#include <pango/pangocairo.h>

#include "launcher/skin/SkinPaint.h"

TextFont CTextEx::DefaultFont(int points) {
    return {kDefaultFamily, 600, skin::FontPixelSize(points)};
}

CTextEx::CTextEx(int points) : SkinWidget(gtk_drawing_area_new()) {
    Connect("draw", G_CALLBACK(OnDraw));
    Connect("button-press-event", G_CALLBACK(OnPress));
    SetFont(DefaultFont(points));
}

CTextEx::~CTextEx() {
    if (m_fontDesc != nullptr) {
        pango_font_description_free(m_fontDesc);
    }
}

void CTextEx::SetTextColor(uint32_t rgb) {
    m_color = rgb & 0xFFFFFF;
    Redraw();
}

int CTextEx::SetBackground(unsigned id) {
    m_background = SkinImage::Load(id);
    Redraw();
    return m_background.empty() ? 0 : 1;
}

void CTextEx::SetFont(const TextFont& font) {
    m_font = font;
    if (m_fontDesc != nullptr) {
        pango_font_description_free(m_fontDesc);
    }
    m_fontDesc = pango_font_description_new();
    pango_font_description_set_family(m_fontDesc, m_font.family.c_str());
    pango_font_description_set_weight(m_fontDesc, static_cast<PangoWeight>(m_font.weight));
    // Absolute: pixels on the surface, whatever the desktop's font DPI.
    pango_font_description_set_absolute_size(m_fontDesc, m_font.pixelSize * PANGO_SCALE);
    Redraw();
}

void CTextEx::SetAlign(unsigned flags) {
    m_align = flags;
    Redraw();
}

void CTextEx::SetDragParent(bool drag) {
    m_dragParent = drag;
    // Only a dragging label takes presses; any other lets them through to
    // the dialog beneath, as a plain label should.
    if (drag) {
        gtk_widget_add_events(m_widget, GDK_BUTTON_PRESS_MASK);
    }
}

void CTextEx::SetText(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    m_text = valid;
    g_free(valid);
    Redraw();
}

gboolean CTextEx::OnDraw(GtkWidget* w, cairo_t* cr, gpointer self) {
    const CTextEx* t = Self<CTextEx>(self);
    const int width = gtk_widget_get_allocated_width(w);
    const int height = gtk_widget_get_allocated_height(w);
    if (!t->m_background.empty()) {
        const skin::Rect all{0, 0, t->m_background.width(), t->m_background.height()};
        skin::PaintPlan(cr, t->m_background.surface(), {{skin::BlitOp::Copy, all, all}});
    }
    if (t->m_text.empty()) {
        return TRUE;
    }
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, t->m_fontDesc);
    // One line: breaks are shown as glyphs, and what does not fit ends
    // with an ellipsis inside the label.
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_width(layout, width * PANGO_SCALE);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_text(layout, t->m_text.c_str(), -1);
    int textW = 0;
    int textH = 0;
    pango_layout_get_pixel_size(layout, &textW, &textH);
    const skin::TextAlign align = skin::MapAlignFlags(t->m_align);
    cairo_set_source_rgb(cr, ((t->m_color >> 16) & 0xFF) / 255.0,
                         ((t->m_color >> 8) & 0xFF) / 255.0, (t->m_color & 0xFF) / 255.0);
    cairo_move_to(cr, skin::AlignOffset(width, textW, align.horizontal),
                  skin::AlignOffset(height, textH, align.vertical));
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return TRUE;
}

gboolean CTextEx::OnPress(GtkWidget* w, GdkEventButton* e, gpointer self) {
    const CTextEx* t = Self<CTextEx>(self);
    if (!t->m_dragParent || e->button != GDK_BUTTON_PRIMARY || e->type != GDK_BUTTON_PRESS) {
        return FALSE;
    }
    GtkWidget* top = gtk_widget_get_toplevel(w);
    if (!GTK_IS_WINDOW(top)) {
        return FALSE;
    }
    gtk_window_begin_move_drag(GTK_WINDOW(top), static_cast<int>(e->button),
                               static_cast<int>(e->x_root), static_cast<int>(e->y_root), e->time);
    return TRUE;
}
