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

// Backgrounds (opaque; the main one has the colour key outside its corners).
Surface DrawMainBackground();
Surface DrawPackerBackground();

// Three-frame strips (normal, hover, pressed) over the background at `at`.
enum class ButtonLook { Slate, Start, StartDisabled };
Surface DrawButtonStrip(const Surface& bg, Rect at, ButtonLook look, const std::string& label);
Surface DrawCloseStrip(const Surface& bg, Rect at);
Surface DrawCheckStrip(const Surface& bg, Rect at, bool checked);

// Progress bars: filled half then empty half, each `half` wide.
enum class BarLook { File, Total };
Surface DrawBarStrip(int half, int height, BarLook look);
Surface DrawSliderChannel();

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
