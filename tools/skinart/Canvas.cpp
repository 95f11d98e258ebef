// Drawing helpers shared by every bitmap family of the skin.
#include "Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace skinart {
namespace {

// Vertical placement centres capital letters, so that labels with and
// without descenders sit on the same line.
double CapCentreBaseline(cairo_t* cr, double cy) {
    cairo_text_extents_t cap;
    cairo_text_extents(cr, "H", &cap);
    return std::round(cy - (cap.y_bearing + cap.height / 2));
}

void ShowText(cairo_t* cr, const TextStyle& style, const std::string& text, double x, double y) {
    if (style.shadowAlpha > 0) {
        SetRgb(cr, Rgb{0, 0, 0}, style.shadowAlpha);
        cairo_move_to(cr, x, y + 1);
        cairo_show_text(cr, text.c_str());
    }
    SetRgb(cr, style.colour, style.alpha);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

void AddStops(cairo_pattern_t* p, std::initializer_list<Stop> stops) {
    for (const Stop& s : stops) {
        cairo_pattern_add_color_stop_rgba(p, s.at, s.colour.r, s.colour.g, s.colour.b, s.alpha);
    }
}

void SetGradient(cairo_t* cr, double x0, double y0, double x1, double y1,
                 std::initializer_list<Stop> stops) {
    cairo_pattern_t* p = cairo_pattern_create_linear(x0, y0, x1, y1);
    AddStops(p, stops);
    cairo_set_source(cr, p);
    cairo_pattern_destroy(p);
}

}  // namespace

Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Surface NewSurface(int w, int h, cairo_format_t format) {
    return Surface(cairo_image_surface_create(format, w, h));
}

Context Draw(const Surface& s) {
    return Context(cairo_create(s.get()));
}

int Width(const Surface& s) {
    return cairo_image_surface_get_width(s.get());
}

int Height(const Surface& s) {
    return cairo_image_surface_get_height(s.get());
}

void SetRgb(cairo_t* cr, Rgb c, double alpha) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::max(0.0, std::min(r, std::min(w, h) / 2));
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void SetVGradient(cairo_t* cr, double y0, double y1, std::initializer_list<Stop> stops) {
    SetGradient(cr, 0, y0, 0, y1, stops);
}

void SetHGradient(cairo_t* cr, double x0, double x1, std::initializer_list<Stop> stops) {
    SetGradient(cr, x0, 0, x1, 0, stops);
}

Surface Crop(const Surface& src, Rect r) {
    Surface out = NewSurface(r.w, r.h, cairo_image_surface_get_format(src.get()));
    Context cr = Draw(out);
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr.get(), src.get(), -r.x, -r.y);
    cairo_paint(cr.get());
    return out;
}

void Paste(const Surface& dst, const Surface& src, int x, int y) {
    Context cr = Draw(dst);
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr.get(), src.get(), x, y);
    cairo_rectangle(cr.get(), x, y, Width(src), Height(src));
    cairo_fill(cr.get());
}

void Stretch(const Surface& dst, const Surface& src, Rect from, Rect to) {
    if (from.w <= 0 || from.h <= 0 || to.w <= 0 || to.h <= 0) {
        return;
    }
    Context cr = Draw(dst);
    cairo_t* c = cr.get();
    cairo_rectangle(c, to.x, to.y, to.w, to.h);
    cairo_clip(c);
    cairo_translate(c, to.x, to.y);
    cairo_scale(c, static_cast<double>(to.w) / from.w, static_cast<double>(to.h) / from.h);
    cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(c, src.get(), -from.x, -from.y);
    cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_NEAREST);
    cairo_paint(c);
}

Surface HStack(const std::vector<const Surface*>& frames) {
    int w = 0;
    for (const Surface* f : frames) {
        w += Width(*f);
    }
    const Surface& first = *frames.front();
    Surface out = NewSurface(w, Height(first), cairo_image_surface_get_format(first.get()));
    int x = 0;
    for (const Surface* f : frames) {
        Paste(out, *f, x, 0);
        x += Width(*f);
    }
    return out;
}

void SelectFont(cairo_t* cr, const TextStyle& style) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           style.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, style.size);
    cairo_font_options_t* opt = cairo_font_options_create();
    cairo_font_options_set_antialias(opt, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(opt, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(opt, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, opt);
    cairo_font_options_destroy(opt);
}

double TextWidth(cairo_t* cr, const TextStyle& style, const std::string& text) {
    SelectFont(cr, style);
    cairo_text_extents_t te;
    cairo_text_extents(cr, text.c_str(), &te);
    return te.width;
}

double FitSize(cairo_t* cr, TextStyle style, const std::string& text, double maxWidth) {
    while (style.size > 6 && TextWidth(cr, style, text) > maxWidth) {
        style.size -= 0.5;
    }
    return style.size;
}

void CentredText(cairo_t* cr, const TextStyle& style, const std::string& text, double cx,
                 double cy) {
    SelectFont(cr, style);
    cairo_text_extents_t te;
    cairo_text_extents(cr, text.c_str(), &te);
    const double x = std::round(cx - (te.x_bearing + te.width / 2));
    ShowText(cr, style, text, x, CapCentreBaseline(cr, cy));
}

void LeftText(cairo_t* cr, const TextStyle& style, const std::string& text, double x, double cy) {
    SelectFont(cr, style);
    ShowText(cr, style, text, std::round(x), CapCentreBaseline(cr, cy));
}

void AddGrain(const Surface& s, Rect area, int amplitude, unsigned seed) {
    cairo_surface_flush(s.get());
    unsigned char* data = cairo_image_surface_get_data(s.get());
    const int stride = cairo_image_surface_get_stride(s.get());
    uint32_t state = seed ? seed : 1;
    for (int y = area.y; y < area.y + area.h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = area.x; x < area.x + area.w; ++x) {
            // xorshift32: the same grain on every build, so the PNGs are
            // reproducible.
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int d = static_cast<int>(state % (2 * amplitude + 1)) - amplitude;
            uint32_t px = row[x];
            uint32_t out = px & 0xFF000000u;
            for (int shift = 0; shift <= 16; shift += 8) {
                const int v = std::clamp(static_cast<int>((px >> shift) & 0xFF) + d, 0, 255);
                out |= static_cast<uint32_t>(v) << shift;
            }
            row[x] = out;
        }
    }
    cairo_surface_mark_dirty(s.get());
}

void CutRoundedCorners(const Surface& s, double radius, unsigned key) {
    cairo_surface_flush(s.get());
    unsigned char* data = cairo_image_surface_get_data(s.get());
    const int stride = cairo_image_surface_get_stride(s.get());
    const int w = Width(s);
    const int h = Height(s);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < w; ++x) {
            const double px = x + 0.5;
            const double py = y + 0.5;
            // Distance into the corner square, 0 outside the corners.
            const double dx = std::max({radius - px, px - (w - radius), 0.0});
            const double dy = std::max({radius - py, py - (h - radius), 0.0});
            if (dx > 0 && dy > 0 && dx * dx + dy * dy > radius * radius) {
                row[x] = 0xFF000000u | key;
            }
        }
    }
    cairo_surface_mark_dirty(s.get());
}

bool WritePng(const Surface& s, const std::string& path) {
    return cairo_surface_write_to_png(s.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace skinart
