// A picture of the skin in use, for judging the art: the windows composed
// the way the controls draw them (frame copies, the bars' cap-and-stretch
// copies, the colour key cut out), then every strip at twice its size.
#include <algorithm>
#include <cstdint>
#include <map>

#include "Layout.h"
#include "SkinArt.h"

namespace skinart {
namespace {

namespace L = layout;

const Rgb kDesktop = Hex(0x56606E);
constexpr int kMargin = 20;
constexpr int kWidth = 2 * kMargin + 1100;

class Lookup {
public:
    explicit Lookup(const std::vector<Bitmap>& skin) {
        for (const Bitmap& b : skin) {
            m_byId[b.id] = &b.image;
        }
    }
    const Surface& operator[](unsigned id) const { return *m_byId.at(id); }

private:
    std::map<unsigned, const Surface*> m_byId;
};

void Copy(const Surface& dst, const Surface& src, Rect from, int x, int y) {
    Stretch(dst, src, from, Rect{x, y, from.w, from.h});
}

// The progress bar's drawing for a bar of range (and width) r at x, y.
void PaintBar(const Surface& dst, const Surface& bar, int x, int y, int r, int pos) {
    const int w = Width(bar);
    const int h = Height(bar);
    const int half = w / 2;
    const int f = pos;
    if (f <= 2) {
        Copy(dst, bar, Rect{0, 0, f, h}, x, y);
        Copy(dst, bar, Rect{half, 0, 2 - f, h}, x + f, y);
        Stretch(dst, bar, Rect{half + 2, 0, half - 4, h}, Rect{x + 2, y, r - 4, h});
    } else if (f < r - 2) {
        Copy(dst, bar, Rect{0, 0, 2, h}, x, y);
        Stretch(dst, bar, Rect{2, 0, half - 4, h}, Rect{x + 2, y, f - 2, h});
        Stretch(dst, bar, Rect{half + 2, 0, 2, h}, Rect{x + f, y, r - f - 2, h});
    } else {
        Copy(dst, bar, Rect{0, 0, 2, h}, x, y);
        Stretch(dst, bar, Rect{2, 0, half - 4, h}, Rect{x + 2, y, r - 4, h});
        if (f == r) {
            Copy(dst, bar, Rect{half - 2, 0, 2, h}, x + r - 2, y);
        } else {
            Copy(dst, bar, Rect{half - 2, 0, 1, h}, x + r - 2, y);
            Copy(dst, bar, Rect{w - 1, 0, 1, h}, x + r - 1, y);
        }
        return;
    }
    Copy(dst, bar, Rect{w - 2, 0, 2, h}, x + r - 2, y);
}

// The background with the colour key made transparent, as the window
// shows it.
Surface KeyedOut(const Surface& bg) {
    Surface out = NewSurface(Width(bg), Height(bg), CAIRO_FORMAT_ARGB32);
    Paste(out, bg, 0, 0);
    cairo_surface_flush(out.get());
    unsigned char* data = cairo_image_surface_get_data(out.get());
    const int stride = cairo_image_surface_get_stride(out.get());
    for (int y = 0; y < Height(out); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < Width(out); ++x) {
            row[x] = (row[x] & 0xFFFFFF) == L::kColourKey ? 0 : (row[x] | 0xFF000000u);
        }
    }
    cairo_surface_mark_dirty(out.get());
    return out;
}

void PaintLabel(cairo_t* cr, const Surface& bg, Rect at, const std::string& text, double size,
                bool centred) {
    cairo_set_source_surface(cr, bg.get(), at.x, at.y);
    cairo_paint(cr);
    TextStyle style{.size = size, .bold = true, .colour = Rgb{1, 1, 1}};
    if (centred) {
        CentredText(cr, style, text, at.x + at.w / 2.0, at.y + at.h / 2.0);
    } else {
        LeftText(cr, style, text, at.x + 2, at.y + at.h / 2.0);
    }
}

void PaintMainWindow(const Surface& out, const Lookup& skin, int ox, int oy) {
    Surface win = KeyedOut(skin[1006]);
    struct Placed {
        unsigned id;
        Rect at;
    };
    const Placed buttons[] = {{134, L::kStart},   {1007, L::kClose},      {155, L::kHome},
                              {176, L::kHome2},   {178, L::kFaq},         {143, L::kOptions},
                              {147, L::kDirectX}, {197, L::kScreenshots}, {1009, L::kTerms}};
    for (const Placed& p : buttons) {
        Copy(win, skin[p.id], Rect{0, 0, p.at.w, p.at.h}, p.at.x, p.at.y);
    }
    PaintBar(win, skin[141], L::kFileBar.x, L::kFileBar.y, L::kFileBar.w, L::kFileBar.w / 2);
    PaintBar(win, skin[1008], L::kTotalBar.x, L::kTotalBar.y, L::kTotalBar.w,
             L::kTotalBar.w * 3 / 4);
    Context ctx = Draw(win);
    cairo_t* cr = ctx.get();
    PaintLabel(cr, skin[138], L::kTitle, "Varn Launcher", 12, false);
    PaintLabel(cr, skin[140], L::kStatus, "Downloading data.pak", 9.3, false);
    PaintLabel(cr, skin[152], L::kFilePercent, "50%", 9, true);
    PaintLabel(cr, skin[152], L::kTotalPercent, "75%", 9, true);
    Context dst = Draw(out);
    cairo_set_source_surface(dst.get(), win.get(), ox, oy);
    cairo_paint(dst.get());
}

void PaintPackerWindow(const Surface& out, const Lookup& skin, int ox, int oy) {
    Surface win = NewSurface(L::kPacker.w, L::kPacker.h);
    Paste(win, skin[182], 0, 0);
    PaintBar(win, skin[141], L::kPackerBar.x, L::kPackerBar.y, L::kPackerBar.w, 200);
    {
        Context ctx = Draw(win);
        PaintLabel(ctx.get(), skin[179], L::kPackerText, "Rewriting game data. Please wait.", 10.7,
                   false);
    }
    Paste(out, win, ox, oy);
}

// The options dialog with its strips in place; the combo boxes (the
// toolkit's, styled by the dialog) as plain dark fields.
void PaintOptionWindow(const Surface& out, const Lookup& skin, int ox, int oy) {
    Surface win = KeyedOut(skin[158]);
    struct Placed {
        unsigned id;
        Rect at;
    };
    const Placed parts[] = {
        {1010, L::kOptionOk},      {159, L::kOptionReset},      {173, L::kOptionCancel},
        {1011, L::kOptionShadow},  {1011, L::kOptionGlow},      {160, L::kOptionMapEffect},
        {1011, L::kOptionFog},     {160, L::kOptionWindowMode}, {163, L::kOptionGammaDown},
        {1012, L::kOptionGammaUp},
    };
    for (const Placed& p : parts) {
        Copy(win, skin[p.id], Rect{0, 0, p.at.w, p.at.h}, p.at.x, p.at.y);
    }
    Stretch(win, skin[164], L::kSliderChannel, L::kOptionGamma);
    Context ctx = Draw(win);
    cairo_t* cr = ctx.get();
    for (const Rect& c :
         {L::kOptionResolution, L::kOptionTexture, L::kOptionLod, L::kOptionEffect}) {
        cairo_rectangle(cr, c.x + 0.5, c.y + 0.5, c.w - 1, c.h - 1);
        SetRgb(cr, Hex(0x0A111F));
        cairo_fill_preserve(cr);
        SetRgb(cr, Hex(0x5D80B8));
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    Context dst = Draw(out);
    cairo_set_source_surface(dst.get(), win.get(), ox, oy);
    cairo_paint(dst.get());
}

// Lays out every strip and small bitmap at twice its size, in rows from
// `top`, drawing them into out when given; returns the bottom of the last
// row.
int LayOutParts(const std::vector<Bitmap>& skin, int top, const Surface* out) {
    int x = kMargin;
    int y = top;
    int rowHeight = 0;
    for (const Bitmap& b : skin) {
        // The icon is large enough as it is.
        const int scale = b.id == 128 ? 1 : 2;
        const int w = Width(b.image) * scale;
        const int h = Height(b.image) * scale;
        if (b.id == 1006 || b.id == 182 || b.id == 158 || w > kWidth - 2 * kMargin) {
            continue;
        }
        if (x + w > kWidth - kMargin) {
            x = kMargin;
            y += rowHeight + 12;
            rowHeight = 0;
        }
        if (out != nullptr) {
            Context cr = Draw(*out);
            cairo_translate(cr.get(), x, y);
            cairo_scale(cr.get(), scale, scale);
            cairo_set_source_surface(cr.get(), b.image.get(), 0, 0);
            cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_NEAREST);
            cairo_paint(cr.get());
        }
        x += w + 12;
        rowHeight = std::max(rowHeight, h);
    }
    return y + rowHeight;
}

}  // namespace

Surface ComposePreview(const std::vector<Bitmap>& skin) {
    const Lookup lookup(skin);
    const int optionTop = kMargin + L::kWindow.h + kMargin + L::kPacker.h + kMargin;
    const int partsTop = optionTop + L::kOptionWindow.h + kMargin;
    const int height = LayOutParts(skin, partsTop, nullptr) + kMargin;
    Surface out = NewSurface(kWidth, height);
    {
        Context cr = Draw(out);
        SetRgb(cr.get(), kDesktop);
        cairo_paint(cr.get());
    }
    PaintMainWindow(out, lookup, kMargin, kMargin);
    PaintPackerWindow(out, lookup, kMargin, kMargin + L::kWindow.h + kMargin);
    PaintOptionWindow(out, lookup, kMargin, optionTop);
    LayOutParts(skin, partsTop, &out);
    // The bars' bitmaps themselves, at their own size.
    int y = kMargin + L::kWindow.h + kMargin;
    for (unsigned id : {141u, 1008u}) {
        Paste(out, lookup[id], kMargin + L::kPacker.w + 40, y);
        y += Height(lookup[id]) + 10;
    }
    return out;
}

}  // namespace skinart
