// Drawing helpers shared by every bitmap family of the skin: owned cairo
// surfaces, rounded shapes, gradients, text, and pixel-level passes (noise,
// the hard colour-key cut). All functions run on one thread; nothing is
// shared between calls.
#pragma once
#include <cairo.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace skinart {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
// Owners; a Surface is never null once returned by these helpers.
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

struct Rect {
    int x, y, w, h;
};

struct Rgb {
    double r, g, b;
};
// 0xRRGGBB -> colour.
constexpr Rgb Hex(unsigned v) {
    return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0};
}
// Linear mix: t = 0 gives a, 1 gives b.
Rgb Mix(Rgb a, Rgb b, double t);

struct Stop {
    double at;
    Rgb colour;
    double alpha = 1.0;
};

// A new surface cleared to transparent black (opaque black for RGB24).
// Bitmaps without transparency use RGB24 so their PNGs carry no alpha.
Surface NewSurface(int w, int h, cairo_format_t format = CAIRO_FORMAT_RGB24);
Context Draw(const Surface& s);
int Width(const Surface& s);
int Height(const Surface& s);

void SetRgb(cairo_t* cr, Rgb c, double alpha = 1.0);
// Adds a rounded rectangle to the path (r is clamped to half the short side).
void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r);
// Makes a top-to-bottom (or left-to-right) gradient the source.
void SetVGradient(cairo_t* cr, double y0, double y1, std::initializer_list<Stop> stops);
void SetHGradient(cairo_t* cr, double x0, double x1, std::initializer_list<Stop> stops);

// A copy of the rectangle of src (same format).
Surface Crop(const Surface& src, Rect r);
// Copies src onto dst with its top-left at (x, y), replacing what was there.
void Paste(const Surface& dst, const Surface& src, int x, int y);
// Copies the rectangle `from` of src stretched over the rectangle `to` of
// dst, nearest-neighbour (how the controls stretch bitmaps); nothing for an
// empty rectangle.
void Stretch(const Surface& dst, const Surface& src, Rect from, Rect to);
// Frames side by side, left to right, all of the first frame's height.
Surface HStack(const std::vector<const Surface*>& frames);

struct TextStyle {
    double size = 10;  // pixels
    bool bold = true;
    Rgb colour{1, 1, 1};
    double alpha = 1.0;
    double shadowAlpha = 0.0;  // a 1-pixel drop shadow under the text
};
// Selects the skin's face (DejaVu Sans) at the style's size, with hinting
// suited to small pixel text.
void SelectFont(cairo_t* cr, const TextStyle& style);
double TextWidth(cairo_t* cr, const TextStyle& style, const std::string& text);
// The largest size not above style.size at which text fits in maxWidth.
double FitSize(cairo_t* cr, TextStyle style, const std::string& text, double maxWidth);
// Draws text with its ink centred on (cx, cy), snapped to whole pixels.
void CentredText(cairo_t* cr, const TextStyle& style, const std::string& text, double cx,
                 double cy);
// Draws text starting at x with its ink vertically centred on cy.
void LeftText(cairo_t* cr, const TextStyle& style, const std::string& text, double x, double cy);

// Adds deterministic grain (+-amplitude levels) to the rectangle.
void AddGrain(const Surface& s, Rect area, int amplitude, unsigned seed);
// Every pixel whose centre lies outside the rounded rectangle of the whole
// surface becomes exactly `key`: no antialiased pixel mixes with the key, so
// a colour-key cut gives a clean outline.
void CutRoundedCorners(const Surface& s, double radius, unsigned key);

// Writes the surface as PNG; false on failure.
bool WritePng(const Surface& s, const std::string& path);

}  // namespace skinart
