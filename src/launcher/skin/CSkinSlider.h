// A horizontal slider whose channel (trough) is a bitmap stretched over the
// whole control; the thumb is the desktop theme's. The value is GtkRange's
// (range(), gtk_range_set_value, "value-changed").
// Main thread only (see SkinWidget).
#pragma once
#include "launcher/skin/SkinImage.h"
#include "launcher/skin/SkinWidget.h"

class CSkinSlider : public SkinWidget {
public:
    // The part of the channel bitmap that is stretched.
    static constexpr skin::Rect kChannelSource{0, 0, 138, 20};

    CSkinSlider(double min, double max, double step);

    // Returns 0 when the bitmap does not load (the theme's trough stays).
    int SetChannelBitmap(unsigned id);
    GtkRange* range() const { return GTK_RANGE(m_widget); }

private:
    static gboolean OnDraw(GtkWidget* w, cairo_t* cr, gpointer self);

    SkinImage m_channel;
};
