// Progress bars.
//
// A bar bitmap is two halves side by side: the filled look, then the empty
// look, each with 2-pixel end caps. The control copies the caps and
// stretches the middles (the empty middle from just 2 columns), so the
// middles must look the same in every column: all shading runs
// top-to-bottom.
#include "Layout.h"
#include "SkinArt.h"

namespace skinart {
namespace {

struct BarPalette {
    Rgb gloss, light, mid, deep, lip, outline;
};

BarPalette PaletteFor(BarLook look) {
    if (look == BarLook::Total) {
        return {Hex(0xC8FFEC), Hex(0x4FE3B6), Hex(0x17AE86),
                Hex(0x0C7A60), Hex(0x30C89C), Hex(0x04261E)};
    }
    return {Hex(0xB4E8FF), Hex(0x55B8FF), Hex(0x2587EE),
            Hex(0x1556B4), Hex(0x3E90F2), Hex(0x061A38)};
}

void FillRect(cairo_t* cr, double x, double y, double w, double h, Rgb c, double a = 1.0) {
    cairo_rectangle(cr, x, y, w, h);
    SetRgb(cr, c, a);
    cairo_fill(cr);
}

// Outline columns and rows, and a darker inner column at each end, so the
// caps read as the rounded ends of a tube.
void PaintCaps(cairo_t* cr, int x, int w, int h, Rgb outline) {
    FillRect(cr, x, 0, w, 1, outline, 0.85);
    FillRect(cr, x, h - 1, w, 1, outline, 0.85);
    FillRect(cr, x + 1, 1, 1, h - 2, Rgb{0, 0, 0}, 0.30);
    FillRect(cr, x + w - 2, 1, 1, h - 2, Rgb{0, 0, 0}, 0.30);
    FillRect(cr, x, 0, 1, h, outline);
    FillRect(cr, x + w - 1, 0, 1, h, outline);
}

void PaintFilled(cairo_t* cr, int half, int h, const BarPalette& p) {
    // A glass tube: bright upper half, deep lower half, light caught again
    // at the bottom.
    cairo_rectangle(cr, 0, 0, half, h);
    SetVGradient(cr, 0, h,
                 {{0, p.gloss}, {0.45, p.light}, {0.5, p.mid}, {0.85, p.deep}, {1, p.lip}});
    cairo_fill(cr);
    PaintCaps(cr, 0, half, h, p.outline);
}

void PaintEmpty(cairo_t* cr, int half, int h) {
    // Recessed: shadow under the top edge, light on the lower lip.
    cairo_rectangle(cr, half, 0, half, h);
    SetVGradient(cr, 0, h, {{0, Hex(0x060A12)}, {0.5, Hex(0x0E1729)}, {1, Hex(0x1A2740)}});
    cairo_fill(cr);
    FillRect(cr, half, 1, half, 1, Rgb{0, 0, 0}, 0.35);
    FillRect(cr, half, h - 1, half, 1, Hex(0x2E4265));
    const Rgb outline = Hex(0x03060C);
    FillRect(cr, half, 0, half, 1, outline);
    FillRect(cr, half, 0, 1, h, outline);
    FillRect(cr, 2 * half - 1, 0, 1, h, outline);
    FillRect(cr, half + 1, 1, 1, h - 2, Rgb{0, 0, 0}, 0.30);
    FillRect(cr, 2 * half - 2, 1, 1, h - 2, Rgb{0, 0, 0}, 0.30);
}

}  // namespace

Surface DrawBarStrip(int half, int height, BarLook look) {
    Surface s = NewSurface(2 * half, height);
    Context ctx = Draw(s);
    cairo_set_antialias(ctx.get(), CAIRO_ANTIALIAS_NONE);
    PaintFilled(ctx.get(), half, height, PaletteFor(look));
    PaintEmpty(ctx.get(), half, height);
    return s;
}

}  // namespace skinart
