// What the skinned controls draw, computed without a window: which part of
// a bitmap goes where, clamping of bar values, text alignment, hit tests and
// the colour-key mask of a background. Plain functions on plain types (no
// toolkit types), so they are tested without a display. Thread-safe (pure).
#pragma once
#include <cstdint>
#include <vector>

namespace skin {

// A rectangle in pixels; empty when w or h is not positive.
struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
    int w = 0;
    int h = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// One drawing step: Copy takes src pixel for pixel (src and dst have the
// same size), Stretch scales src over dst (nearest pixel). Every op a plan
// function returns has positive widths and heights and a src inside the
// bitmap.
struct BlitOp {
    enum Kind { Copy, Stretch };
    Kind kind = Copy;
    Rect src;
    Rect dst;
    friend bool operator==(const BlitOp&, const BlitOp&) = default;
};
using BlitPlan = std::vector<BlitOp>;

// --- Buttons: a strip of three frames side by side ---------------------
enum class ButtonState { Normal = 0, Hover = 1, Pressed = 2 };

// Size of one frame: strip width / 3 (truncating) by the strip height.
Size StripFrameSize(int stripW, int stripH);
// The strip's rectangle showing a state: (state * frame width, 0, frame).
Rect StripFrameRect(int stripW, int stripH, ButtonState state);
// The frame to show: pressed wins over hover. A button held down with the
// pointer moved off it looks normal again, so callers pass
// pressed = held && pointer inside.
ButtonState ButtonStateFor(bool pressed, bool hover);

// Whether (x, y) lies in r (left/top edges inside, right/bottom outside).
bool HitTest(const Rect& r, int x, int y);

// --- Progress bar: a bitmap of two halves (filled look | empty look), each
// with 2-pixel end caps -----------------------------------------------
constexpr int kDefaultRange = 100;
// A range that is not positive means the default 100.
int ClampRange(int range);
// The position kept in 0..ClampRange(range).
int ClampPos(int pos, int range);
// The drawing of a bar width pixels wide for pos out of range from a
// bitmap bmpW x bmpH. The filled width is f = width * pos / range (pos and
// range clamped as above); the bar is laid out over the control's width
// (the end cap at width - 2). Ops that a narrow bitmap or control would
// give a non-positive size are left out, and sources are cut to the bitmap.
BlitPlan ProgressBarPlan(int bmpW, int bmpH, int range, int width, int pos);

// A stretch of src over dst with src cut to the bitmap; empty when either
// side has no pixels (a replaced bitmap may be smaller than expected).
BlitPlan StretchPlan(const Rect& src, int bmpW, int bmpH, const Rect& dst);

// --- Dialog background ---------------------------------------------------
enum DrawMode {
    kDrawCopy = 0,
    kDrawTile = 1,
    kDrawCentre = 2,
    kDrawStretch = 3,
    kDrawFitWindow = 4
};
// How a background bmpW x bmpH fills a client area clientW x clientH:
// copy at the top-left (modes 0 and 4; unknown modes too), tile from the
// top-left, centre (may start left of or above the client area), stretch.
BlitPlan BackgroundPlan(int mode, int bmpW, int bmpH, int clientW, int clientH);

// --- Text ---------------------------------------------------------------
enum class Align { Start, Centre, End };
struct TextAlign {
    Align horizontal = Align::Start;
    Align vertical = Align::Start;
    friend bool operator==(const TextAlign&, const TextAlign&) = default;
};
// Alignment flags of a label (bits may be combined):
//   horizontal: 0 left, 1 centre, 2 right (1 wins over 2);
//   vertical:   0 top, 4 centre, 8 bottom (4 wins over 8).
// The status line passes 4: left, vertically centred.
constexpr unsigned kAlignHCentre = 1;
constexpr unsigned kAlignRight = 2;
constexpr unsigned kAlignVCentre = 4;
constexpr unsigned kAlignBottom = 8;
TextAlign MapAlignFlags(unsigned flags);
// Offset of an extent inside a box along one axis; centring truncates
// towards the start; an extent larger than the box starts at 0 for Start
// and goes negative otherwise.
int AlignOffset(int box, int extent, Align a);
// Pixel size of a font of the given points at 96 pixels per inch, so a
// label's text fits the bitmap drawn for it whatever the desktop scaling.
int FontPixelSize(int points);

// --- Colour key -----------------------------------------------------------
constexpr uint32_t kColourKey = 0xFF00FF;
// One row's run of opaque pixels [x0, x1).
struct Span {
    int y = 0;
    int x0 = 0;
    int x1 = 0;
    friend bool operator==(const Span&, const Span&) = default;
};
// 32-bit pixels 0xAARRGGBB (premultiplied), stride in pixels. A pixel is
// transparent when its alpha is 0 or its colour is the key; the rest give
// the runs of opaque pixels, row by row, left to right.
std::vector<Span> OpaqueSpans(const uint32_t* pixels, int w, int h, int stride,
                              uint32_t key = kColourKey);
// Makes every pixel of the key colour fully transparent (0). Premultiplied
// colour can only equal the key when the pixel is opaque.
void ApplyColourKey(uint32_t* pixels, int w, int h, int stride, uint32_t key = kColourKey);

}  // namespace skin
