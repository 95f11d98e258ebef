// The emblem and the application icon.
#include <algorithm>
#include <cmath>

#include "SkinArt.h"

namespace skinart {
namespace {

const Rgb kGoldLight = Hex(0xFFE6A0);
const Rgb kGold = Hex(0xF2B441);
const Rgb kGoldDark = Hex(0xB8730F);

void DiamondPath(cairo_t* cr, double cx, double cy, double r) {
    cairo_move_to(cr, cx, cy - r);
    cairo_line_to(cr, cx + r, cy);
    cairo_line_to(cr, cx, cy + r);
    cairo_line_to(cr, cx - r, cy);
    cairo_close_path(cr);
}

void SetGold(cairo_t* cr, double y0, double y1, double alpha) {
    SetVGradient(cr, y0, y1, {{0, kGoldLight, alpha}, {0.5, kGold, alpha}, {1, kGoldDark, alpha}});
}

}  // namespace

void DrawEmblem(cairo_t* cr, double cx, double cy, double size, double alpha) {
    const double r = size / 2;
    cairo_save(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    // Body: deep blue, lit from above.
    DiamondPath(cr, cx, cy, r * 0.94);
    SetVGradient(
        cr, cy - r, cy + r,
        {{0, Hex(0x3764A6), alpha}, {0.55, Hex(0x17305A), alpha}, {1, Hex(0x0A1426), alpha}});
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, std::max(1.0, size * 0.07));
    SetGold(cr, cy - r, cy + r, alpha);
    cairo_stroke(cr);
    // The V, in gold with a darker under-stroke so it reads at small sizes.
    const double w = r * 0.40;
    const double top = cy - r * 0.30;
    const double bottom = cy + r * 0.40;
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, cx - w, top);
    cairo_line_to(cr, cx, bottom);
    cairo_line_to(cr, cx + w, top);
    cairo_set_line_width(cr, std::max(1.6, size * 0.13));
    SetRgb(cr, Hex(0x050A14), 0.55 * alpha);
    cairo_stroke_preserve(cr);
    cairo_set_line_width(cr, std::max(1.2, size * 0.085));
    SetGold(cr, top, bottom, alpha);
    cairo_stroke(cr);
    cairo_restore(cr);
}

Surface DrawIcon(int size) {
    Surface s = NewSurface(size, size, CAIRO_FORMAT_ARGB32);
    Context ctx = Draw(s);
    cairo_t* cr = ctx.get();
    const double k = size / 256.0;
    cairo_scale(cr, k, k);
    // A rounded tile in the window's colours, so the icon and the window
    // look like one product.
    RoundedRect(cr, 12, 12, 232, 232, 52);
    SetVGradient(cr, 12, 244, {{0, Hex(0x2A4A7C)}, {0.6, Hex(0x15243F)}, {1, Hex(0x0B1322)}});
    cairo_fill_preserve(cr);
    cairo_pattern_t* glow = cairo_pattern_create_radial(128, 120, 10, 128, 128, 130);
    cairo_pattern_add_color_stop_rgba(glow, 0, 0.45, 0.65, 1.0, 0.30);
    cairo_pattern_add_color_stop_rgba(glow, 1, 0.45, 0.65, 1.0, 0.0);
    cairo_set_source(cr, glow);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(glow);
    cairo_set_line_width(cr, 4);
    SetVGradient(cr, 12, 244, {{0, Hex(0x7FA8E6)}, {1, Hex(0x263E66)}});
    cairo_stroke(cr);

    DrawEmblem(cr, 128, 131, 176);

    // Gloss over the upper half of the tile.
    RoundedRect(cr, 16, 16, 224, 112, 48);
    SetVGradient(cr, 16, 128, {{0, Rgb{1, 1, 1}, 0.16}, {1, Rgb{1, 1, 1}, 0.0}});
    cairo_fill(cr);
    return s;
}

}  // namespace skinart
