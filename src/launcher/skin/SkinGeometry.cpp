#include "launcher/skin/SkinGeometry.h"

#include <algorithm>

namespace skin {
namespace {

bool Empty(const Rect& r) {
    return r.w <= 0 || r.h <= 0;
}

Rect Intersect(const Rect& a, const Rect& b) {
    const int x0 = std::max(a.x, b.x);
    const int y0 = std::max(a.y, b.y);
    const int x1 = std::min(a.x + a.w, b.x + b.w);
    const int y1 = std::min(a.y + a.h, b.y + b.h);
    return {x0, y0, x1 - x0, y1 - y0};
}

// Adds a copy of src to (dx, dy), cut to the bitmap and to the area drawn
// on, so a bitmap or control smaller than the art was made for never yields
// an op of no or negative size.
void AddCopy(BlitPlan& plan, const Rect& bitmap, const Rect& area, Rect src, int dx, int dy) {
    if (Empty(src)) {
        return;
    }
    const Rect s = Intersect(src, bitmap);
    Rect d{dx + s.x - src.x, dy + s.y - src.y, s.w, s.h};
    const Rect dc = Intersect(d, area);
    const Rect sc{s.x + dc.x - d.x, s.y + dc.y - d.y, dc.w, dc.h};
    if (!Empty(sc) && !Empty(dc)) {
        plan.push_back({BlitOp::Copy, sc, dc});
    }
}

// Stretches keep their destination (it always lies in the drawn area) and
// only lose source pixels the bitmap does not have.
void AddStretch(BlitPlan& plan, const Rect& bitmap, const Rect& src, const Rect& dst) {
    if (Empty(src) || Empty(dst)) {
        return;
    }
    const Rect s = Intersect(src, bitmap);
    if (!Empty(s)) {
        plan.push_back({BlitOp::Stretch, s, dst});
    }
}

}  // namespace

Size StripFrameSize(int stripW, int stripH) {
    return {std::max(stripW, 0) / 3, std::max(stripH, 0)};
}

Rect StripFrameRect(int stripW, int stripH, ButtonState state) {
    const Size f = StripFrameSize(stripW, stripH);
    return {static_cast<int>(state) * f.w, 0, f.w, f.h};
}

ButtonState ButtonStateFor(bool pressed, bool hover) {
    if (pressed) {
        return ButtonState::Pressed;
    }
    return hover ? ButtonState::Hover : ButtonState::Normal;
}

bool HitTest(const Rect& r, int x, int y) {
    return x >= r.x && y >= r.y && x - r.x < r.w && y - r.y < r.h;
}

int ClampRange(int range) {
    return range > 0 ? range : kDefaultRange;
}

int ClampPos(int pos, int range) {
    return std::clamp(pos, 0, ClampRange(range));
}

BlitPlan ProgressBarPlan(int bmpW, int bmpH, int range, int width, int pos) {
    BlitPlan plan;
    if (bmpW <= 0 || bmpH <= 0 || width <= 0) {
        return plan;
    }
    const int W = bmpW;
    const int H = bmpH;
    const int D = width;
    const int R = ClampRange(range);
    // 64-bit: width * pos may pass 2^31 for a large range.
    const int f = static_cast<int>(static_cast<int64_t>(D) * ClampPos(pos, range) / R);
    const int half = W / 2;
    const Rect bitmap{0, 0, W, H};
    const Rect area{0, 0, D, H};
    auto copy = [&](int sx, int sw, int dx) { AddCopy(plan, bitmap, area, {sx, 0, sw, H}, dx, 0); };
    auto stretch = [&](int sx, int sw, int dx, int dw) {
        AddStretch(plan, bitmap, {sx, 0, sw, H}, {dx, 0, dw, H});
    };
    if (f <= 2) {
        // Nearly empty: the left cap's first f columns filled, the rest of
        // it and the body from the empty half.
        copy(0, f, 0);
        copy(half, 2 - f, f);
        stretch(half + 2, half - 4, 2, D - 4);
        copy(W - 2, 2, D - 2);
    } else if (f < D - 2) {
        copy(0, 2, 0);
        stretch(2, half - 4, 2, f - 2);
        stretch(half + 2, 2, f, D - f - 2);
        copy(W - 2, 2, D - 2);
    } else {
        // Full or nearly: a full bar ends with the filled cap; one short of
        // full keeps the empty half's last column.
        copy(0, 2, 0);
        stretch(2, half - 4, 2, D - 4);
        if (f == D) {
            copy(half - 2, 2, D - 2);
        } else {
            copy(half - 2, 1, D - 2);
            copy(W - 1, 1, D - 1);
        }
    }
    return plan;
}

BlitPlan StretchPlan(const Rect& src, int bmpW, int bmpH, const Rect& dst) {
    BlitPlan plan;
    AddStretch(plan, {0, 0, bmpW, bmpH}, src, dst);
    return plan;
}

BlitPlan BackgroundPlan(int mode, int bmpW, int bmpH, int clientW, int clientH) {
    BlitPlan plan;
    if (bmpW <= 0 || bmpH <= 0 || clientW <= 0 || clientH <= 0) {
        return plan;
    }
    const Rect bitmap{0, 0, bmpW, bmpH};
    const Rect client{0, 0, clientW, clientH};
    switch (mode) {
        case kDrawTile:
            for (int y = 0; y < clientH; y += bmpH) {
                for (int x = 0; x < clientW; x += bmpW) {
                    AddCopy(plan, bitmap, client, bitmap, x, y);
                }
            }
            break;
        case kDrawCentre:
            // Arithmetic shift: a bitmap larger than the window is centred
            // too, starting left of or above it.
            AddCopy(plan, bitmap, client, bitmap, (clientW - bmpW) >> 1, (clientH - bmpH) >> 1);
            break;
        case kDrawStretch:
            AddStretch(plan, bitmap, bitmap, client);
            break;
        default:
            AddCopy(plan, bitmap, client, bitmap, 0, 0);
            break;
    }
    return plan;
}

TextAlign MapAlignFlags(unsigned flags) {
    TextAlign a;
    if (flags & kAlignHCentre) {
        a.horizontal = Align::Centre;
    } else if (flags & kAlignRight) {
        a.horizontal = Align::End;
    }
    if (flags & kAlignVCentre) {
        a.vertical = Align::Centre;
    } else if (flags & kAlignBottom) {
        a.vertical = Align::End;
    }
    return a;
}

int AlignOffset(int box, int extent, Align a) {
    switch (a) {
        case Align::Centre:
            return (box - extent) / 2;
        case Align::End:
            return box - extent;
        default:
            return 0;
    }
}

int FontPixelSize(int points) {
    return points * 96 / 72;
}

std::vector<Span> OpaqueSpans(const uint32_t* pixels, int w, int h, int stride, uint32_t key) {
    std::vector<Span> spans;
    if (pixels == nullptr || w <= 0 || h <= 0 || stride < w) {
        return spans;
    }
    auto opaque = [key](uint32_t p) { return (p >> 24) != 0 && (p & 0xFFFFFF) != key; };
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = pixels + static_cast<size_t>(y) * stride;
        int x = 0;
        while (x < w) {
            while (x < w && !opaque(row[x])) {
                ++x;
            }
            const int start = x;
            while (x < w && opaque(row[x])) {
                ++x;
            }
            if (x > start) {
                spans.push_back({y, start, x});
            }
        }
    }
    return spans;
}

void ApplyColourKey(uint32_t* pixels, int w, int h, int stride, uint32_t key) {
    if (pixels == nullptr || w <= 0 || h <= 0 || stride < w) {
        return;
    }
    for (int y = 0; y < h; ++y) {
        uint32_t* row = pixels + static_cast<size_t>(y) * stride;
        for (int x = 0; x < w; ++x) {
            if ((row[x] & 0xFFFFFF) == key) {
                row[x] = 0;
            }
        }
    }
}

}  // namespace skin
