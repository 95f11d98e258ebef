// The options dialog's background and its gamma slider's channel. The
// dialog's buttons and check boxes are the common strips (Buttons.cpp)
// drawn over this background.
#include "Layout.h"
#include "SkinArt.h"

namespace skinart {
namespace {

namespace L = layout;

const Rgb kPanel = Hex(0x16223A);
const Rgb kRuleDark = Hex(0x070C16);
const Rgb kRuleLight = Hex(0x2E4265);
const Rgb kTick = Hex(0x8296B8);

// A sunk line across the panel: dark over light.
void PaintRule(cairo_t* cr, int y) {
    const Rect p = L::kOptionPanel;
    cairo_rectangle(cr, p.x + 8, y, p.w - 16, 1);
    SetRgb(cr, kRuleDark, 0.9);
    cairo_fill(cr);
    cairo_rectangle(cr, p.x + 8, y + 1, p.w - 16, 1);
    SetRgb(cr, kRuleLight, 0.6);
    cairo_fill(cr);
}

void PaintPanel(cairo_t* cr) {
    const Rect p = L::kOptionPanel;
    PaintFramedPanel(cr, p);
    // Flat, without grain: the shared bitmaps cut from it fit anywhere.
    cairo_rectangle(cr, p.x, p.y, p.w, p.h);
    SetRgb(cr, kPanel);
    cairo_fill(cr);
    PaintRule(cr, L::kOptionRuleY1);
    PaintRule(cr, L::kOptionRuleY2);
}

}  // namespace

Surface DrawOptionBackground() {
    const int w = L::kOptionWindow.w;
    const int h = L::kOptionWindow.h;
    Surface s = NewSurface(w, h);
    {
        Context ctx = Draw(s);
        cairo_t* cr = ctx.get();
        PaintWindowBackdrop(cr, w, h, L::kOptionTitleHeight, 17);
    }
    AddGrain(s, Rect{0, 0, w, h}, 2, 0x0971);
    {
        Context ctx = Draw(s);
        PaintPanel(ctx.get());
        PaintWindowEdge(ctx.get(), w, h, L::kOptionRadius);
    }
    CutRoundedCorners(s, L::kOptionRadius, L::kColourKey);
    return s;
}

Surface DrawSliderChannel(const Surface& optionBg) {
    const Rect at = L::kOptionGamma;
    const Rect r = L::kSliderChannel;
    Surface s = Crop(optionBg, Rect{at.x, at.y, r.w, r.h});
    Context ctx = Draw(s);
    cairo_t* cr = ctx.get();
    // The groove, sunk like the bars' empty look.
    const double gx = 4;
    const double gw = r.w - 8;
    RoundedRect(cr, gx, 7, gw, 6, 3);
    SetVGradient(cr, 7, 13, {{0, Hex(0x03060C)}, {0.6, Hex(0x0E1729)}, {1, Hex(0x1A2740)}});
    cairo_fill(cr);
    RoundedRect(cr, gx + 0.5, 7.5, gw - 1, 5, 2.5);
    SetVGradient(cr, 7, 13, {{0, Rgb{0, 0, 0}, 0.6}, {1, Hex(0x3D5B8A), 0.8}});
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    // Ticks at every tenth of the range; the middle one (gamma 1.0) longer.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    for (int i = 0; i <= 10; ++i) {
        const int x = static_cast<int>(gx + 3 + i * (gw - 7) / 10.0);
        cairo_rectangle(cr, x, 15, 1, i % 5 == 0 ? 3 : 2);
        SetRgb(cr, kTick, i == 5 ? 0.9 : 0.6);
        cairo_fill(cr);
    }
    return s;
}

}  // namespace skinart
