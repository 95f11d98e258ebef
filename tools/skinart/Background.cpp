// The two window backgrounds: the main window (title strip, notice panel,
// bottom panel) and the secondary progress window; and the pieces every
// window background shares.
#include "Layout.h"
#include "SkinArt.h"

namespace skinart {
namespace {

namespace L = layout;

const Rgb kBaseTop = Hex(0x1A2A46);
const Rgb kBaseBottom = Hex(0x0C1424);
const Rgb kEdge = Hex(0x3D5B8A);
const Rgb kLabel = Hex(0x8296B8);
const Rgb kBlack{0, 0, 0};
const Rgb kWhite{1, 1, 1};

}  // namespace

// Deep blue to slate, with a faint sheen from the top left.
void PaintBase(cairo_t* cr, int w, int h) {
    cairo_rectangle(cr, 0, 0, w, h);
    SetVGradient(cr, 0, h, {{0, kBaseTop}, {1, kBaseBottom}});
    cairo_fill_preserve(cr);
    cairo_pattern_t* sheen = cairo_pattern_create_linear(0, 0, w * 0.6, h);
    cairo_pattern_add_color_stop_rgba(sheen, 0, 0.55, 0.7, 1.0, 0.10);
    cairo_pattern_add_color_stop_rgba(sheen, 1, 0.55, 0.7, 1.0, 0.0);
    cairo_set_source(cr, sheen);
    cairo_fill(cr);
    cairo_pattern_destroy(sheen);
}

void PaintVignette(cairo_t* cr, int w, int h) {
    cairo_pattern_t* v =
        cairo_pattern_create_radial(w / 2.0, h / 2.0, h * 0.35, w / 2.0, h / 2.0, w * 0.62);
    cairo_pattern_add_color_stop_rgba(v, 0, 0, 0, 0, 0.0);
    cairo_pattern_add_color_stop_rgba(v, 1, 0, 0, 0, 0.38);
    cairo_set_source(cr, v);
    cairo_paint(cr);
    cairo_pattern_destroy(v);
}

void PaintWindowBackdrop(cairo_t* cr, int w, int h, int stripHeight, double emblemSize) {
    PaintBase(cr, w, h);
    PaintTitleStrip(cr, w, stripHeight);
    PaintVignette(cr, w, h);
    PaintTitleEmblem(cr, stripHeight, emblemSize);
}

void PaintTitleStrip(cairo_t* cr, int w, int h) {
    cairo_rectangle(cr, 0, 0, w, h);
    SetVGradient(cr, 0, h, {{0, Hex(0x2A4168)}, {0.5, Hex(0x1C2D4C)}, {1, Hex(0x14213A)}});
    cairo_fill(cr);
    // A lit top edge and an accent line that separates the strip.
    cairo_rectangle(cr, 0, 1, w, 1);
    SetRgb(cr, kWhite, 0.10);
    cairo_fill(cr);
    cairo_rectangle(cr, 0, h - 1, w, 1);
    SetHGradient(cr, 0, w,
                 {{0, Hex(0x4C78B8), 0.2}, {0.25, Hex(0x6C9BE0), 0.9}, {1, Hex(0x4C78B8), 0.2}});
    cairo_fill(cr);
    cairo_rectangle(cr, 0, h, w, 1);
    SetRgb(cr, kBlack, 0.45);
    cairo_fill(cr);
}

// Drawn after the vignette so that it keeps its full colour.
void PaintTitleEmblem(cairo_t* cr, int stripHeight, double size) {
    DrawEmblem(cr, 4 + size / 2, stripHeight / 2.0, size);
}

// A panel sunk into the surface: dark outer shadow, thin light frame.
void PaintFramedPanel(cairo_t* cr, Rect r) {
    cairo_rectangle(cr, r.x - 2.5, r.y - 2.5, r.w + 5, r.h + 5);
    SetRgb(cr, kBlack, 0.25);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_rectangle(cr, r.x - 1.5, r.y - 1.5, r.w + 3, r.h + 3);
    SetRgb(cr, kBlack, 0.55);
    cairo_stroke(cr);
    cairo_rectangle(cr, r.x - 0.5, r.y - 0.5, r.w + 1, r.h + 1);
    SetVGradient(cr, r.y, r.y + r.h, {{0, kEdge, 0.9}, {1, kEdge, 0.45}});
    cairo_stroke(cr);
}

void PaintWindowEdge(cairo_t* cr, int w, int h, double radius) {
    RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, radius - 0.5);
    SetVGradient(cr, 0, h, {{0, Hex(0x5A7DB3)}, {1, Hex(0x2A3E60)}});
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

namespace {

void PaintNoticePanel(cairo_t* cr) {
    const Rect r = L::kNotice;
    PaintFramedPanel(cr, r);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    SetVGradient(cr, r.y, r.y + r.h, {{0, Hex(0x22314D)}, {1, Hex(0x19253C)}});
    cairo_fill(cr);
    // Seen only until the notice page has loaded: a quiet watermark.
    const double cx = r.x + r.w / 2.0;
    const double cy = r.y + r.h / 2.0 - 14;
    DrawEmblem(cr, cx, cy, 120, 0.10);
    TextStyle mark{.size = 26, .bold = true, .colour = kWhite, .alpha = 0.08};
    CentredText(cr, mark, "V A R N", cx, cy + 86);
}

void PaintBarSlot(cairo_t* cr) {
    const Rect a = L::kFileBar;
    const Rect b = L::kTotalBar;
    const double x = a.x - 2;
    const double y = a.y - 2;
    const double w = a.w + 4;
    const double h = b.y + b.h + 2 - y;
    RoundedRect(cr, x, y, w, h, 2);
    SetRgb(cr, Hex(0x070C16));
    cairo_fill(cr);
    // Light falls on the lower lip of the recess.
    cairo_rectangle(cr, x + 1, y + h, w - 2, 1);
    SetRgb(cr, kWhite, 0.08);
    cairo_fill(cr);
}

void PaintBottomPanel(cairo_t* cr) {
    const Rect r = L::kBottomPanel;
    RoundedRect(cr, r.x + 0.5, r.y + 0.5, r.w - 1, r.h - 1, 6);
    SetVGradient(cr, r.y, r.y + r.h, {{0, Hex(0x1B2943)}, {1, Hex(0x131E33)}});
    cairo_fill_preserve(cr);
    SetRgb(cr, kEdge, 0.55);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_rectangle(cr, r.x + 6, r.y + 1, r.w - 12, 1);
    SetRgb(cr, kWhite, 0.07);
    cairo_fill(cr);

    PaintBarSlot(cr);
    TextStyle small{.size = 8, .bold = true, .colour = kLabel};
    const double right = L::kFileBar.x - 7;
    const char* file = "FILE";
    const char* total = "TOTAL";
    LeftText(cr, small, file, right - TextWidth(cr, small, file),
             L::kFileBar.y + L::kFileBar.h / 2.0);
    LeftText(cr, small, total, right - TextWidth(cr, small, total),
             L::kTotalBar.y + L::kTotalBar.h / 2.0 + 1);

    // The terms check box's label, in two short lines beside the box.
    TextStyle terms{.size = 9.5, .bold = false, .colour = Hex(0xC9D5EA), .shadowAlpha = 0.5};
    const double tx = L::kTerms.x + L::kTerms.w + 6;
    const double cy = L::kTerms.y + L::kTerms.h / 2.0;
    LeftText(cr, terms, "I agree to", tx, cy - 5);
    LeftText(cr, terms, "the terms", tx, cy + 6);
}

}  // namespace

Surface DrawMainBackground() {
    const int w = L::kWindow.w;
    const int h = L::kWindow.h;
    Surface s = NewSurface(w, h);
    {
        Context ctx = Draw(s);
        cairo_t* cr = ctx.get();
        PaintWindowBackdrop(cr, w, h, L::kTitleStripHeight, 21);
        PaintNoticePanel(cr);
        PaintBottomPanel(cr);
    }
    AddGrain(s, Rect{0, 0, w, h}, 2, 0x5EED);
    {
        Context ctx = Draw(s);
        PaintWindowEdge(ctx.get(), w, h, L::kWindowRadius);
    }
    // Both percentages share one background bitmap: the lower place gets
    // the upper one's pixels so neither shows a seam.
    Paste(s, Crop(s, L::kFilePercent), L::kTotalPercent.x, L::kTotalPercent.y);
    CutRoundedCorners(s, L::kWindowRadius, L::kColourKey);
    return s;
}

Surface DrawPackerBackground() {
    const int w = L::kPacker.w;
    const int h = L::kPacker.h;
    Surface s = NewSurface(w, h);
    {
        Context ctx = Draw(s);
        cairo_t* cr = ctx.get();
        PaintWindowBackdrop(cr, w, h, 20, 14);
        TextStyle caption{.size = 9, .bold = true, .colour = Hex(0xB7C6E0)};
        LeftText(cr, caption, "Varn", 23, 10);
        const Rect bar = L::kPackerBar;
        RoundedRect(cr, bar.x - 2, bar.y - 2, bar.w + 4, 12 + 4, 2);
        SetRgb(cr, Hex(0x070C16));
        cairo_fill(cr);
    }
    AddGrain(s, Rect{0, 0, w, h}, 2, 0xB0A7);
    Context ctx = Draw(s);
    cairo_rectangle(ctx.get(), 0.5, 0.5, w - 1, h - 1);
    SetVGradient(ctx.get(), 0, h, {{0, Hex(0x5A7DB3)}, {1, Hex(0x2A3E60)}});
    cairo_set_line_width(ctx.get(), 1);
    cairo_stroke(ctx.get());
    return s;
}

}  // namespace skinart
