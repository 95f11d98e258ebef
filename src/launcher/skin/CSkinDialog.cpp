#include "launcher/skin/CSkinDialog.h"

#include "launcher/skin/SkinPaint.h"

CSkinDialog::CSkinDialog() {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(m_window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(m_window), FALSE);
    // The background is ours to draw, in the window's own draw handler,
    // before the children.
    gtk_widget_set_app_paintable(m_window, TRUE);
    gtk_widget_add_events(m_window, GDK_BUTTON_PRESS_MASK);
    m_fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(m_window), m_fixed);
    gtk_widget_show(m_fixed);
    g_signal_connect(m_window, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(m_window, "button-press-event", G_CALLBACK(OnPress), this);
    g_signal_connect(m_window, "size-allocate", G_CALLBACK(OnSizeAllocate), this);
    g_signal_connect(m_window, "destroy", G_CALLBACK(OnDestroy), this);
}

CSkinDialog::~CSkinDialog() {
    if (m_window != nullptr) {
        g_signal_handlers_disconnect_by_data(m_window, this);
        gtk_widget_destroy(m_window);
    }
    if (m_shape != nullptr) {
        cairo_region_destroy(m_shape);
    }
}

void CSkinDialog::OnDestroy(GtkWidget*, gpointer self) {
    auto* d = static_cast<CSkinDialog*>(self);
    d->m_window = nullptr;
    d->m_fixed = nullptr;
}

int CSkinDialog::SetBackground(unsigned id) {
    m_background = SkinImage::Load(id);
    BackgroundChanged();
    return m_background.empty() ? 0 : 1;
}

void CSkinDialog::SetDrawMode(int mode) {
    m_drawMode = mode;
    BackgroundChanged();
}

int CSkinDialog::SetTransparent(uint32_t key, bool enable) {
    if (m_window == nullptr) {
        return 0;
    }
    m_key = key & 0xFFFFFF;
    m_transparent = enable;
    if (!enable) {
        BackgroundChanged();
        return 1;
    }
    GdkScreen* screen = gtk_widget_get_screen(m_window);
    GdkVisual* rgba = screen ? gdk_screen_get_rgba_visual(screen) : nullptr;
    const bool seeThrough = rgba != nullptr && gdk_screen_is_composited(screen);
    // The visual is fixed once the window exists on the display.
    if (seeThrough && !gtk_widget_get_realized(m_window)) {
        gtk_widget_set_visual(m_window, rgba);
    }
    const bool shapes = gdk_display_supports_shapes(gtk_widget_get_display(m_window)) ||
                        gdk_display_supports_input_shapes(gtk_widget_get_display(m_window));
    BackgroundChanged();
    return seeThrough || shapes ? 1 : 0;
}

void CSkinDialog::Place(GtkWidget* child, int x, int y, int w, int h) {
    if (m_fixed == nullptr) {
        return;
    }
    gtk_widget_set_size_request(child, w, h);
    if (gtk_widget_get_parent(child) == m_fixed) {
        gtk_fixed_move(GTK_FIXED(m_fixed), child, x, y);
    } else {
        gtk_fixed_put(GTK_FIXED(m_fixed), child, x, y);
    }
    gtk_widget_show(child);
}

void CSkinDialog::BackgroundChanged() {
    m_keyed = m_transparent ? m_background.WithColourKey(m_key) : SkinImage();
    if (m_drawMode == skin::kDrawFitWindow) {
        FitToBackground();
    }
    UpdateShape(true);
    if (m_window != nullptr) {
        gtk_widget_queue_draw(m_window);
    }
}

void CSkinDialog::FitToBackground() {
    if (m_window == nullptr || m_background.empty()) {
        return;
    }
    // A window that is not resizable takes its content's size; the
    // content area asks for the bitmap's.
    gtk_widget_set_size_request(m_fixed, m_background.width(), m_background.height());
    gtk_window_resize(GTK_WINDOW(m_window), m_background.width(), m_background.height());
}

void CSkinDialog::PaintBackground(cairo_t* cr, int w, int h) const {
    // The theme's background first, as under any window; the bitmap then
    // replaces it, transparent pixels included.
    gtk_render_background(gtk_widget_get_style_context(m_window), cr, 0, 0, w, h);
    const SkinImage& image = m_keyed.empty() ? m_background : m_keyed;
    skin::PaintPlan(cr, image.surface(),
                    skin::BackgroundPlan(m_drawMode, image.width(), image.height(), w, h),
                    m_keyed.empty() ? CAIRO_OPERATOR_OVER : CAIRO_OPERATOR_SOURCE);
}

gboolean CSkinDialog::OnDraw(GtkWidget* w, cairo_t* cr, gpointer self) {
    static_cast<const CSkinDialog*>(self)->PaintBackground(cr, gtk_widget_get_allocated_width(w),
                                                           gtk_widget_get_allocated_height(w));
    return FALSE;  // the window goes on to draw its children
}

gboolean CSkinDialog::OnPress(GtkWidget* w, GdkEventButton* e, gpointer self) {
    const auto* d = static_cast<const CSkinDialog*>(self);
    // Only presses on the window's own surface: a control that passes a
    // press on (a plain label) lets it through to this surface, one that
    // keeps it (a button) does not.
    if (!d->m_easyMove || e->button != GDK_BUTTON_PRIMARY || e->type != GDK_BUTTON_PRESS ||
        e->window != gtk_widget_get_window(w)) {
        return FALSE;
    }
    gtk_window_begin_move_drag(GTK_WINDOW(w), static_cast<int>(e->button),
                               static_cast<int>(e->x_root), static_cast<int>(e->y_root), e->time);
    return TRUE;
}

void CSkinDialog::OnSizeAllocate(GtkWidget*, GdkRectangle*, gpointer self) {
    static_cast<CSkinDialog*>(self)->UpdateShape(false);
}

void CSkinDialog::UpdateShape(bool force) {
    if (m_window == nullptr) {
        return;
    }
    const int w = gtk_widget_get_allocated_width(m_window);
    const int h = gtk_widget_get_allocated_height(m_window);
    if (!force && w == m_shapeW && h == m_shapeH) {
        return;
    }
    m_shapeW = w;
    m_shapeH = h;
    // Before the first allocation the size is not known yet; the
    // allocation comes back here.
    if (!m_transparent || m_keyed.empty() || w <= 1 || h <= 1) {
        SetShape(nullptr);
        return;
    }
    // The shape is what the background drawing leaves opaque, drawn the
    // same way at the window's size, whatever the draw mode.
    cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(picture);
    PaintBackground(cr, w, h);
    cairo_destroy(cr);
    SetShape(skin::OpaqueRegion(picture, m_key));
    cairo_surface_destroy(picture);
}

void CSkinDialog::SetShape(cairo_region_t* region) {
    if (m_shape != nullptr) {
        cairo_region_destroy(m_shape);
    }
    m_shape = region;
    // Both: the input shape is what a compositor and Wayland use; the
    // bounding shape cuts the window on a plain X server too.
    gtk_widget_shape_combine_region(m_window, region);
    gtk_widget_input_shape_combine_region(m_window, region);
}
