#include "launcher/skin/CStaticEx.h"

#include "launcher/skin/SkinPaint.h"

CStaticEx::CStaticEx() : SkinWidget(gtk_drawing_area_new()) {
    Connect("draw", G_CALLBACK(OnDraw));
}

int CStaticEx::SetBitmap(unsigned id) {
    m_bar = SkinImage::Load(id);
    Redraw();
    return m_bar.empty() ? 0 : 1;
}

void CStaticEx::SetRange(int max) {
    m_range = skin::ClampRange(max);
    // A position past a shrunken range would draw past the bar's end.
    m_pos = skin::ClampPos(m_pos, m_range);
    Redraw();
}

void CStaticEx::SetPos(int pos) {
    const int clamped = skin::ClampPos(pos, m_range);
    if (clamped != m_pos) {
        m_pos = clamped;
        Redraw();
    }
}

gboolean CStaticEx::OnDraw(GtkWidget* w, cairo_t* cr, gpointer self) {
    const CStaticEx* s = Self<CStaticEx>(self);
    skin::PaintPlan(cr, s->m_bar.surface(),
                    skin::ProgressBarPlan(s->m_bar.width(), s->m_bar.height(), s->m_range,
                                          gtk_widget_get_allocated_width(w), s->m_pos));
    return TRUE;
}
