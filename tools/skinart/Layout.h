// Where the controls of the two windows sit (client pixels). The art is
// drawn to fit them: labels and text backgrounds are cut from the
// background at exactly these rectangles so that they blend in.
#pragma once
#include "Canvas.h"

namespace skinart::layout {

// Main window.
constexpr Rect kWindow{0, 0, 800, 492};
constexpr double kWindowRadius = 10;
constexpr int kTitleStripHeight = 33;
constexpr Rect kNotice{8, 35, 783, 394};
constexpr Rect kBottomPanel{8, 433, 783, 53};
constexpr Rect kStart{652, 447, 121, 31};
constexpr Rect kClose{773, 9, 22, 21};
constexpr Rect kHome{510, 9, 79, 20};
constexpr Rect kHome2{595, 9, 79, 20};
constexpr Rect kFaq{679, 9, 79, 20};
constexpr Rect kDirectX{116, 437, 83, 21};
constexpr Rect kOptions{243, 437, 83, 21};
constexpr Rect kScreenshots{370, 437, 83, 21};
constexpr Rect kTerms{521, 452, 19, 19};
constexpr Rect kTitle{30, 12, 390, 17};
constexpr Rect kStatus{0, 150, 150, 40};
constexpr Rect kFilePercent{431, 461, 28, 11};
constexpr Rect kTotalPercent{431, 472, 28, 11};
constexpr Rect kFileBar{121, 462, 308, 12};
constexpr Rect kTotalBar{121, 475, 308, 7};

// Secondary progress window (pack rewrite).
constexpr Rect kPacker{0, 0, 450, 110};
constexpr Rect kPackerBar{75, 67, 337, 20};
constexpr Rect kPackerText{35, 30, 377, 12};

// Options dialog: the ground of its controls is one flat panel, so that
// the check boxes, arrows and the slider channel (each bitmap shared by
// several places, or stretched) blend in wherever they sit.
constexpr Rect kOptionWindow{0, 0, 425, 305};
constexpr double kOptionRadius = 8;
constexpr int kOptionTitleHeight = 27;
constexpr Rect kOptionPanel{8, 34, 409, 218};
// Lines between the panel's three rows of controls.
constexpr int kOptionRuleY1 = 120;
constexpr int kOptionRuleY2 = 179;
constexpr Rect kOptionResolution{87, 58, 91, 13};
constexpr Rect kOptionTexture{288, 58, 91, 13};
constexpr Rect kOptionLod{87, 87, 91, 13};
constexpr Rect kOptionEffect{288, 87, 91, 13};
constexpr Rect kOptionShadow{23, 194, 19, 19};
constexpr Rect kOptionGlow{161, 194, 19, 19};
constexpr Rect kOptionMapEffect{23, 222, 19, 19};
constexpr Rect kOptionFog{161, 222, 19, 19};
constexpr Rect kOptionWindowMode{295, 194, 19, 19};
constexpr Rect kOptionGamma{100, 142, 137, 20};
constexpr Rect kOptionGammaDown{84, 142, 10, 14};
constexpr Rect kOptionGammaUp{246, 142, 10, 14};
constexpr Rect kOptionOk{245, 262, 79, 26};
constexpr Rect kOptionReset{325, 262, 79, 26};
constexpr Rect kOptionCancel{396, 3, 22, 21};
// The slider stretches this much of its channel bitmap over itself.
constexpr Rect kSliderChannel{0, 0, 138, 20};

// Bars: two halves side by side, each as wide as the main window's bars.
constexpr int kBarHalf = 308;

// The colour the window treats as transparent.
constexpr unsigned kColourKey = 0xFF00FF;

}  // namespace skinart::layout
