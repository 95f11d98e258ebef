// The skin's geometry: button frames, the progress bar's drawing, the
// background modes, text alignment and the colour-key mask.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "launcher/skin/SkinGeometry.h"

using namespace skin;

namespace {

BlitOp Copy(Rect src, int dx) {
    return {BlitOp::Copy, src, {dx, src.y, src.w, src.h}};
}
BlitOp Stretch(Rect src, Rect dst) {
    return {BlitOp::Stretch, src, dst};
}

}  // namespace

namespace skin {
std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << "(" << r.x << "," << r.y << "," << r.w << "," << r.h << ")";
}
void PrintTo(const BlitOp& op, std::ostream* os) {
    *os << (op.kind == BlitOp::Copy ? "copy " : "stretch ") << op.src << " -> " << op.dst;
}
void PrintTo(const Span& s, std::ostream* os) {
    *os << "y" << s.y << "[" << s.x0 << "," << s.x1 << ")";
}
}  // namespace skin

TEST(SkinGeometryTest, StripFramesAndButtonStates) {
    EXPECT_EQ(StripFrameSize(363, 31), (Size{121, 31}));
    EXPECT_EQ(StripFrameRect(363, 31, ButtonState::Normal), (Rect{0, 0, 121, 31}));
    EXPECT_EQ(StripFrameRect(363, 31, ButtonState::Hover), (Rect{121, 0, 121, 31}));
    EXPECT_EQ(StripFrameRect(363, 31, ButtonState::Pressed), (Rect{242, 0, 121, 31}));
    // A strip not divisible by three loses its last columns, never reads past them.
    EXPECT_EQ(StripFrameRect(65, 20, ButtonState::Pressed), (Rect{42, 0, 21, 20}));

    EXPECT_EQ(ButtonStateFor(false, false), ButtonState::Normal);
    EXPECT_EQ(ButtonStateFor(false, true), ButtonState::Hover);
    EXPECT_EQ(ButtonStateFor(true, true), ButtonState::Pressed);

    const Rect r{10, 20, 5, 3};
    EXPECT_TRUE(HitTest(r, 10, 20));
    EXPECT_TRUE(HitTest(r, 14, 22));
    EXPECT_FALSE(HitTest(r, 15, 22));
    EXPECT_FALSE(HitTest(r, 14, 23));
    EXPECT_FALSE(HitTest(r, 9, 20));
    EXPECT_FALSE(HitTest({0, 0, 0, 0}, 0, 0));
}

TEST(SkinGeometryTest, BarValuesAreClamped) {
    EXPECT_EQ(ClampRange(-1), 100);
    EXPECT_EQ(ClampRange(0), 100);
    EXPECT_EQ(ClampRange(308), 308);
    EXPECT_EQ(ClampPos(-5, 308), 0);
    EXPECT_EQ(ClampPos(400, 308), 308);
    EXPECT_EQ(ClampPos(150, 0), 100);
}

// The bars of the main window: a 616 x 12 bitmap (filled half, empty half)
// on a 308-pixel control of range 308.
TEST(SkinGeometryTest, BarPlanAtEmptyMiddleNearlyFullAndFull) {
    const int H = 12;
    struct Case {
        int pos;
        BlitPlan plan;
    };
    const Case cases[] = {
        // Empty: the left cap and the body come from the empty half.
        {0,
         {Copy({308, 0, 2, H}, 0), Stretch({310, 0, 304, H}, {2, 0, 304, H}),
          Copy({614, 0, 2, H}, 306)}},
        // One pixel filled: the cap's first column from the filled half.
        {1,
         {Copy({0, 0, 1, H}, 0), Copy({308, 0, 1, H}, 1), Stretch({310, 0, 304, H}, {2, 0, 304, H}),
          Copy({614, 0, 2, H}, 306)}},
        {100,
         {Copy({0, 0, 2, H}, 0), Stretch({2, 0, 304, H}, {2, 0, 98, H}),
          Stretch({310, 0, 2, H}, {100, 0, 206, H}), Copy({614, 0, 2, H}, 306)}},
        // One short of full: a filled column, then the empty half's last.
        {307,
         {Copy({0, 0, 2, H}, 0), Stretch({2, 0, 304, H}, {2, 0, 304, H}), Copy({306, 0, 1, H}, 306),
          Copy({615, 0, 1, H}, 307)}},
        // Full: the filled half's right cap.
        {308,
         {Copy({0, 0, 2, H}, 0), Stretch({2, 0, 304, H}, {2, 0, 304, H}),
          Copy({306, 0, 2, H}, 306)}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProgressBarPlan(616, H, 308, 308, c.pos), c.plan) << "pos " << c.pos;
    }
    // Out-of-range positions draw as their clamped values.
    EXPECT_EQ(ProgressBarPlan(616, H, 308, 308, -5), ProgressBarPlan(616, H, 308, 308, 0));
    EXPECT_EQ(ProgressBarPlan(616, H, 308, 308, 400), ProgressBarPlan(616, H, 308, 308, 308));
    // The fill follows the control's width, whatever the range.
    EXPECT_EQ(ProgressBarPlan(616, H, 100, 308, 50), ProgressBarPlan(616, H, 308, 308, 154));
}

// A replaced bitmap or a tiny control may be smaller than the art the
// layout assumes; no op may then have a non-positive size, read outside the
// bitmap or draw outside the control.
TEST(SkinGeometryTest, BarPlanStaysInsideForNarrowBitmapsAndBadRanges) {
    for (int W = 0; W <= 12; ++W) {
        for (int D = 0; D <= 12; ++D) {
            for (int R : {-1, 0, 1, 7, 308}) {
                for (int pos = -2; pos <= 10; ++pos) {
                    for (const BlitOp& op : ProgressBarPlan(W, 5, R, D, pos)) {
                        SCOPED_TRACE(testing::Message()
                                     << "W " << W << " D " << D << " R " << R << " pos " << pos);
                        ASSERT_GT(op.src.w, 0);
                        ASSERT_GT(op.dst.w, 0);
                        ASSERT_GT(op.src.h, 0);
                        ASSERT_GE(op.src.x, 0);
                        ASSERT_LE(op.src.x + op.src.w, W);
                        ASSERT_GE(op.dst.x, 0);
                        ASSERT_LE(op.dst.x + op.dst.w, D);
                        if (op.kind == BlitOp::Copy) {
                            ASSERT_EQ(op.src.w, op.dst.w);
                        }
                    }
                }
            }
        }
    }
    // A huge range does not overflow the fill.
    const BlitPlan big = ProgressBarPlan(616, 12, 2000000000, 308, 1999999999);
    ASSERT_FALSE(big.empty());
    EXPECT_EQ(big.back(), Copy({615, 0, 1, 12}, 307));
}

TEST(SkinGeometryTest, BackgroundModes) {
    // Copy (and the fit-to-window mode) is cut to the client area.
    EXPECT_EQ(BackgroundPlan(kDrawCopy, 800, 492, 700, 500), (BlitPlan{Copy({0, 0, 700, 492}, 0)}));
    EXPECT_EQ(BackgroundPlan(kDrawFitWindow, 800, 492, 800, 492),
              (BlitPlan{Copy({0, 0, 800, 492}, 0)}));
    // Tile: whole copies, the last row and column cut.
    const BlitPlan tiles = BackgroundPlan(kDrawTile, 30, 20, 70, 30);
    ASSERT_EQ(tiles.size(), 6u);
    EXPECT_EQ(tiles[2], (BlitOp{BlitOp::Copy, {0, 0, 10, 20}, {60, 0, 10, 20}}));
    EXPECT_EQ(tiles[5], (BlitOp{BlitOp::Copy, {0, 0, 10, 10}, {60, 20, 10, 10}}));
    // Centre: a bitmap larger than the window shows its middle.
    EXPECT_EQ(BackgroundPlan(kDrawCentre, 11, 10, 20, 4),
              (BlitPlan{{BlitOp::Copy, {0, 3, 11, 4}, {4, 0, 11, 4}}}));
    EXPECT_EQ(BackgroundPlan(kDrawCentre, 30, 10, 20, 10),
              (BlitPlan{{BlitOp::Copy, {5, 0, 20, 10}, {0, 0, 20, 10}}}));
    EXPECT_EQ(BackgroundPlan(kDrawStretch, 8, 8, 100, 50),
              (BlitPlan{Stretch({0, 0, 8, 8}, {0, 0, 100, 50})}));
    // The slider's channel source is cut to a narrower bitmap.
    EXPECT_EQ(StretchPlan({0, 0, 138, 20}, 100, 20, {0, 0, 200, 30}),
              (BlitPlan{Stretch({0, 0, 100, 20}, {0, 0, 200, 30})}));
    EXPECT_TRUE(BackgroundPlan(kDrawTile, 0, 20, 70, 30).empty());
}

TEST(SkinGeometryTest, TextAlignment) {
    EXPECT_EQ(MapAlignFlags(0), (TextAlign{Align::Start, Align::Start}));
    EXPECT_EQ(MapAlignFlags(kAlignVCentre), (TextAlign{Align::Start, Align::Centre}));
    EXPECT_EQ(MapAlignFlags(kAlignHCentre | kAlignBottom), (TextAlign{Align::Centre, Align::End}));
    EXPECT_EQ(MapAlignFlags(kAlignRight | kAlignVCentre | kAlignBottom),
              (TextAlign{Align::End, Align::Centre}));
    EXPECT_EQ(AlignOffset(40, 11, Align::Centre), 14);
    EXPECT_EQ(AlignOffset(40, 11, Align::End), 29);
    EXPECT_EQ(AlignOffset(40, 50, Align::Start), 0);
    EXPECT_EQ(FontPixelSize(7), 9);
    EXPECT_EQ(FontPixelSize(8), 10);
}

TEST(SkinGeometryTest, ColourKeyMask) {
    const uint32_t K = 0xFFFF00FF;  // the key, opaque
    const uint32_t O = 0xFF102030;  // opaque
    const uint32_t T = 0x00000000;  // already transparent
    const uint32_t X = 0xDEADBEEF;  // padding past the row's width
    // 4 x 3 pixels in rows of 5.
    std::vector<uint32_t> px = {
        K, O, O, K, X,  //
        O, K, O, O, X,  //
        T, K, K, T, X,  //
    };
    EXPECT_EQ(OpaqueSpans(px.data(), 4, 3, 5),
              (std::vector<Span>{{0, 1, 3}, {1, 0, 1}, {1, 2, 4}}));
    ApplyColourKey(px.data(), 4, 3, 5);
    EXPECT_EQ(px, (std::vector<uint32_t>{T, O, O, T, X, O, T, O, O, X, T, T, T, T, X}));
    // After keying, the same spans: transparency by alpha.
    EXPECT_EQ(OpaqueSpans(px.data(), 4, 3, 5),
              (std::vector<Span>{{0, 1, 3}, {1, 0, 1}, {1, 2, 4}}));
    EXPECT_TRUE(OpaqueSpans(px.data(), 4, 3, 3).empty());  // stride shorter than a row
}
