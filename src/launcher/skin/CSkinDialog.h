// A borderless window drawn from a background bitmap, whose children are
// placed at fixed positions. A press anywhere on the window's own surface
// (not on a control that takes presses) moves it; parts of the background
// in the key colour can be made transparent, and then are outside the
// window for the pointer too.
// Main thread only (see SkinWidget).
#pragma once
#include <gtk/gtk.h>

#include <cstdint>

#include "launcher/skin/SkinGeometry.h"
#include "launcher/skin/SkinImage.h"

class CSkinDialog {
public:
    // Makes the window (undecorated, not resizable, not yet shown).
    CSkinDialog();
    // Destroys the window with every control still in it.
    virtual ~CSkinDialog();
    CSkinDialog(const CSkinDialog&) = delete;
    CSkinDialog& operator=(const CSkinDialog&) = delete;

    // Borrowed; null once the window has been destroyed.
    GtkWindow* window() const { return m_window ? GTK_WINDOW(m_window) : nullptr; }

    // On by default.
    void SetEasyMove(bool easyMove) { m_easyMove = easyMove; }
    // Loads the background `id` through the current bundle and repaints.
    // Returns 0 when it does not load; the window then has no background
    // and shows the theme's.
    int SetBackground(unsigned id);
    // skin::DrawMode: 0 copy at the top-left, 1 tile, 2 centre, 3 stretch,
    // 4 copy and size the window to the background (now and whenever the
    // background changes).
    void SetDrawMode(int mode);
    // Enable: pixels of the key colour (0xRRGGBB) in the background become
    // transparent where the screen can show it (a compositing desktop),
    // and are cut out of the window's shape and input region everywhere.
    // The transparent look needs the call before the window is first
    // shown. Disable: the window is whole and opaque again. Returns 0 when
    // the display can do neither (the window stays opaque).
    int SetTransparent(uint32_t key, bool enable);

    // Puts child (or moves it, when already here) at x, y in a w x h box.
    void Place(GtkWidget* child, int x, int y, int w, int h);

    // The window's shape as last computed (null: whole window); borrowed.
    const cairo_region_t* Shape() const { return m_shape; }

private:
    static gboolean OnDraw(GtkWidget* w, cairo_t* cr, gpointer self);
    static gboolean OnPress(GtkWidget* w, GdkEventButton* e, gpointer self);
    static void OnSizeAllocate(GtkWidget* w, GdkRectangle* a, gpointer self);
    static void OnDestroy(GtkWidget* w, gpointer self);

    void PaintBackground(cairo_t* cr, int w, int h) const;
    void BackgroundChanged();
    void FitToBackground();
    void UpdateShape(bool force);
    void SetShape(cairo_region_t* region);

    GtkWidget* m_window = nullptr;
    GtkWidget* m_fixed = nullptr;
    SkinImage m_background;
    SkinImage m_keyed;  // m_background with the key transparent, while enabled
    int m_drawMode = skin::kDrawCopy;
    bool m_easyMove = true;
    bool m_transparent = false;
    uint32_t m_key = skin::kColourKey;
    cairo_region_t* m_shape = nullptr;  // owned
    int m_shapeW = 0;
    int m_shapeH = 0;
};
