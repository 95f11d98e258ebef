// The skin's bitmap families. Each function draws one family and returns
// new surfaces; those that must blend into the window take the finished
// background and the control's rectangle, and start from the background
// cut out at that rectangle.
#pragma once
#include <string>
#include <vector>

#include "Canvas.h"

namespace skinart {

// One bitmap of the skin: its resource id and file name (without ".png").
struct Bitmap {
    unsigned id;
    std::string name;
    Surface image;
};

// Every bitmap of the skin.
std::vector<Bitmap> DrawSkin();

// Backgrounds (opaque; the main one and the options dialog's have the
// colour key outside their corners).
Surface DrawMainBackground();
Surface DrawPackerBackground();
Surface DrawOptionBackground();

// What every window background is made of (Background.cpp): the base
// gradient with its sheen, the title strip (h high) with the emblem at its
// left, the darkened edges, a panel frame drawn just outside r, and the
// lit outline of a window with rounded corners.
void PaintBase(cairo_t* cr, int w, int h);
void PaintTitleStrip(cairo_t* cr, int w, int h);
void PaintTitleEmblem(cairo_t* cr, int stripHeight, double size);
void PaintVignette(cairo_t* cr, int w, int h);
// A window's backdrop, as every window of the skin has it: the base, the
// title strip of stripHeight with an emblem of emblemSize, the vignette.
void PaintWindowBackdrop(cairo_t* cr, int w, int h, int stripHeight, double emblemSize);
void PaintFramedPanel(cairo_t* cr, Rect r);
void PaintWindowEdge(cairo_t* cr, int w, int h, double radius);

// Three-frame strips (normal, hover, pressed) over the background at `at`.
enum class ButtonLook { Slate, Start, StartDisabled };
Surface DrawButtonStrip(const Surface& bg, Rect at, ButtonLook look, const std::string& label);
Surface DrawCloseStrip(const Surface& bg, Rect at);
Surface DrawCheckStrip(const Surface& bg, Rect at, bool checked);
// The options dialog's gamma steps: a triangle pointing left or right.
Surface DrawArrowStrip(const Surface& bg, Rect at, bool right);

// Progress bars: filled half then empty half, each `half` wide.
enum class BarLook { File, Total };
Surface DrawBarStrip(int half, int height, BarLook look);
// The gamma slider's channel over the options dialog's background.
Surface DrawSliderChannel(const Surface& optionBg);

// The application icon (with alpha), size x size.
Surface DrawIcon(int size);
// The game's emblem (a gold-rimmed diamond holding a V), centred on
// (cx, cy) and `size` across; the icon and the backgrounds share it.
void DrawEmblem(cairo_t* cr, double cx, double cy, double size, double alpha = 1.0);

// The main and secondary windows as a player would see them: every control
// in its normal frame at its place, bars half full, sample texts; the
// strips' three frames below.
Surface ComposePreview(const std::vector<Bitmap>& skin);

}  // namespace skinart
