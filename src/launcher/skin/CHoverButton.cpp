#include "launcher/skin/CHoverButton.h"

#include <cmath>

#include "launcher/skin/SkinPaint.h"

CHoverButton::CHoverButton() : SkinWidget(gtk_drawing_area_new()) {
    gtk_widget_add_events(m_widget, GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK |
                                        GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                        GDK_BUTTON_RELEASE_MASK);
    Connect("draw", G_CALLBACK(OnDraw));
    Connect("enter-notify-event", G_CALLBACK(OnCrossing));
    Connect("leave-notify-event", G_CALLBACK(OnCrossing));
    Connect("motion-notify-event", G_CALLBACK(OnMotion));
    Connect("button-press-event", G_CALLBACK(OnPress));
    Connect("button-release-event", G_CALLBACK(OnRelease));
    Connect("realize", G_CALLBACK(OnRealize));
}

CHoverButton::~CHoverButton() {
    if (m_cursor != nullptr) {
        g_object_unref(m_cursor);
    }
}

int CHoverButton::LoadStrip(unsigned id) {
    m_strip = SkinImage::Load(id);
    Redraw();
    if (m_strip.empty()) {
        return 0;
    }
    const skin::Size frame = FrameSize();
    gtk_widget_set_size_request(m_widget, frame.w, frame.h);
    return 1;
}

bool CHoverButton::SetCursor(unsigned id) {
    if (m_cursor != nullptr) {
        g_object_unref(m_cursor);
        m_cursor = nullptr;
    }
    // Cursors belong to the program, not to the bundle; the one the skin
    // uses is the desktop theme's pointing hand.
    if (id == kHandCursor) {
        m_cursor = gdk_cursor_new_from_name(gtk_widget_get_display(m_widget), "pointer");
    }
    if (GdkWindow* window = gtk_widget_get_window(m_widget)) {
        gdk_window_set_cursor(window, m_cursor);
    }
    return m_cursor != nullptr;
}

void CHoverButton::OnRealize(GtkWidget* w, gpointer self) {
    gdk_window_set_cursor(gtk_widget_get_window(w), Self<CHoverButton>(self)->m_cursor);
}

gboolean CHoverButton::OnDraw(GtkWidget* w, cairo_t* cr, gpointer self) {
    const CHoverButton* b = Self<CHoverButton>(self);
    if (b->m_strip.empty()) {
        return TRUE;
    }
    const skin::Rect src =
        skin::StripFrameRect(b->m_strip.width(), b->m_strip.height(), b->State());
    skin::PaintPlan(cr, b->m_strip.surface(), {{skin::BlitOp::Copy, src, {0, 0, src.w, src.h}}});
    return TRUE;
}

bool CHoverButton::Inside(double x, double y) const {
    return skin::HitTest({0, 0, width(), height()}, static_cast<int>(std::floor(x)),
                         static_cast<int>(std::floor(y)));
}

void CHoverButton::SetHover(bool hover) {
    if (hover != m_hover) {
        m_hover = hover;
        Redraw();
    }
}

gboolean CHoverButton::OnCrossing(GtkWidget*, GdkEventCrossing* e, gpointer self) {
    CHoverButton* b = Self<CHoverButton>(self);
    if (e->mode == GDK_CROSSING_NORMAL) {
        b->SetHover(e->type == GDK_ENTER_NOTIFY);
    } else if (e->type == GDK_LEAVE_NOTIFY && !b->m_held) {
        // A crossing caused by a grab (a menu, a window move, or the end of
        // the implicit grab of a click when the pointer left at once) does
        // not say "left"; where the pointer now is does. No motion may
        // follow on this button to put it right.
        b->SetHover(b->Inside(e->x, e->y));
    }
    return FALSE;
}

gboolean CHoverButton::OnMotion(GtkWidget*, GdkEventMotion* e, gpointer self) {
    CHoverButton* b = Self<CHoverButton>(self);
    b->SetHover(b->Inside(e->x, e->y));
    return FALSE;
}

gboolean CHoverButton::OnPress(GtkWidget*, GdkEventButton* e, gpointer self) {
    CHoverButton* b = Self<CHoverButton>(self);
    if (e->button != GDK_BUTTON_PRIMARY) {
        return FALSE;
    }
    if (e->type == GDK_BUTTON_PRESS) {
        b->m_held = true;
        b->SetHover(b->Inside(e->x, e->y));
        b->Redraw();
    }
    // Presses on a button never reach the dialog, which would start a move.
    return TRUE;
}

gboolean CHoverButton::OnRelease(GtkWidget*, GdkEventButton* e, gpointer self) {
    CHoverButton* b = Self<CHoverButton>(self);
    if (e->button != GDK_BUTTON_PRIMARY || !b->m_held) {
        return FALSE;
    }
    b->m_held = false;
    const bool inside = b->Inside(e->x, e->y);
    b->SetHover(inside);
    b->Redraw();
    if (inside && b->m_onClicked) {
        // A copy: the handler may replace itself or swap the strip.
        std::function<void()> onClicked = b->m_onClicked;
        onClicked();
    }
    return TRUE;
}
