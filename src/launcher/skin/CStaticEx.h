// A progress bar drawn from a bitmap of two halves side by side (left: the
// filled look, right: the empty look, each with 2-pixel end caps), laid out
// over the control's width. Range 100 by default; a range that is not
// positive means 100; the position is kept in 0..range.
// Main thread only (see SkinWidget): the update worker never calls SetPos;
// the window hands the value over to the main thread.
#pragma once
#include "launcher/skin/SkinImage.h"
#include "launcher/skin/SkinWidget.h"

class CStaticEx : public SkinWidget {
public:
    CStaticEx();

    // Each of these repaints. SetBitmap returns 0 when the bitmap does not
    // load (the bar then draws nothing).
    int SetBitmap(unsigned id);
    void SetRange(int max);
    void SetPos(int pos);

    int GetRange() const { return m_range; }
    int GetPos() const { return m_pos; }

private:
    static gboolean OnDraw(GtkWidget* w, cairo_t* cr, gpointer self);

    SkinImage m_bar;
    int m_range = skin::kDefaultRange;
    int m_pos = 0;
};
