// A push button drawn from a strip of three frames side by side: normal,
// hover (pointer over it), pressed (held with the pointer over it). A click
// is a left press and release both on the button. The terms check box is
// the same control: its owner swaps the strip (LoadStrip again) on click.
// Main thread only (see SkinWidget).
#pragma once
#include <functional>

#include "launcher/skin/SkinGeometry.h"
#include "launcher/skin/SkinImage.h"
#include "launcher/skin/SkinWidget.h"

class CHoverButton : public SkinWidget {
public:
    // The id of the skin's hover cursor (a pointing hand).
    static constexpr unsigned kHandCursor = 139;

    CHoverButton();
    ~CHoverButton();

    // Loads the strip `id` through the current bundle and sizes the button
    // to one frame. Returns 1, or 0 when the bitmap does not load (the
    // button then draws nothing and keeps its size).
    int LoadStrip(unsigned id);
    // The cursor shown over the button; true when id names a known cursor
    // (kHandCursor). Replaces the previous one either way.
    bool SetCursor(unsigned id);
    // Called on the main thread after each click.
    void SetOnClicked(std::function<void()> onClicked) { m_onClicked = std::move(onClicked); }

    skin::ButtonState State() const { return skin::ButtonStateFor(m_held && m_hover, m_hover); }
    skin::Size FrameSize() const { return skin::StripFrameSize(m_strip.width(), m_strip.height()); }

private:
    static gboolean OnDraw(GtkWidget* w, cairo_t* cr, gpointer self);
    static gboolean OnCrossing(GtkWidget* w, GdkEventCrossing* e, gpointer self);
    static gboolean OnMotion(GtkWidget* w, GdkEventMotion* e, gpointer self);
    static gboolean OnPress(GtkWidget* w, GdkEventButton* e, gpointer self);
    static gboolean OnRelease(GtkWidget* w, GdkEventButton* e, gpointer self);
    static void OnRealize(GtkWidget* w, gpointer self);
    bool Inside(double x, double y) const;
    void SetHover(bool hover);

    SkinImage m_strip;
    GdkCursor* m_cursor = nullptr;  // owned
    bool m_hover = false;
    bool m_held = false;
    std::function<void()> m_onClicked;
};
