// Three-frame strips: normal, hover (brighter, with a glow), pressed
// (darker, pushed 1 pixel down and right onto where its shadow was). Each
// frame starts from the background under the control, so the rounded
// corners show the window behind them.
#include <functional>

#include "SkinArt.h"

namespace skinart {
namespace {

enum class State { Normal, Hover, Pressed };
constexpr State kStates[] = {State::Normal, State::Hover, State::Pressed};

using FramePainter = std::function<void(cairo_t*, int w, int h, State)>;

Surface Strip(const Surface& bg, Rect at, const FramePainter& paint) {
    const Surface base = Crop(bg, at);
    std::vector<Surface> frames;
    for (State state : kStates) {
        Surface f = Crop(base, Rect{0, 0, at.w, at.h});
        Context cr = Draw(f);
        paint(cr.get(), at.w, at.h, state);
        frames.push_back(std::move(f));
    }
    return HStack({&frames[0], &frames[1], &frames[2]});
}

struct Face {
    Rgb top, bottom, border;
    double gloss;      // white over the upper half
    double highlight;  // the lit inner top edge
    Rgb glowColour;
    double glow;  // light rising from the lower edge (hover)
};

// The face occupies w-1 x h-1: at the top left with a shadow under its
// lower right edge, or pushed into the shadow's place when pressed.
Rect FaceRect(int w, int h, State state) {
    const int d = state == State::Pressed ? 1 : 0;
    return Rect{d, d, w - 1, h - 1};
}

void PaintShadow(cairo_t* cr, Rect face, double r, State state) {
    if (state == State::Pressed) {
        return;
    }
    RoundedRect(cr, face.x + 1, face.y + 1, face.w, face.h, r);
    SetRgb(cr, Rgb{0, 0, 0}, 0.45);
    cairo_fill(cr);
}

void PaintFace(cairo_t* cr, Rect f, double r, const Face& face) {
    cairo_save(cr);
    RoundedRect(cr, f.x, f.y, f.w, f.h, r);
    cairo_clip_preserve(cr);
    SetVGradient(cr, f.y, f.y + f.h, {{0, face.top}, {1, face.bottom}});
    cairo_fill(cr);
    if (face.glow > 0) {
        const double cx = f.x + f.w / 2.0;
        cairo_pattern_t* g =
            cairo_pattern_create_radial(cx, f.y + f.h * 1.1, 0, cx, f.y + f.h * 1.1, f.w * 0.6);
        const Rgb c = face.glowColour;
        cairo_pattern_add_color_stop_rgba(g, 0, c.r, c.g, c.b, face.glow);
        cairo_pattern_add_color_stop_rgba(g, 1, c.r, c.g, c.b, 0);
        cairo_set_source(cr, g);
        cairo_paint(cr);
        cairo_pattern_destroy(g);
    }
    cairo_rectangle(cr, f.x, f.y, f.w, f.h / 2.0);
    SetRgb(cr, Rgb{1, 1, 1}, face.gloss);
    cairo_fill(cr);
    cairo_rectangle(cr, f.x + 2, f.y + 1, f.w - 4, 1);
    SetRgb(cr, Rgb{1, 1, 1}, face.highlight);
    cairo_fill(cr);
    cairo_restore(cr);
    RoundedRect(cr, f.x + 0.5, f.y + 0.5, f.w - 1, f.h - 1, r - 0.5);
    SetRgb(cr, face.border);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

Face SlateFace(State s) {
    switch (s) {
        case State::Hover:
            return {Hex(0x5482C4), Hex(0x2D4F84), Hex(0x9CC2FA), 0.12, 0.35, Hex(0x8CC8FF), 0.45};
        case State::Pressed:
            return {Hex(0x182842), Hex(0x263F68), Hex(0x0C1628), 0.0, 0.0, Hex(0), 0};
        default:
            return {Hex(0x3C5D90), Hex(0x203659), Hex(0x0F1B30), 0.07, 0.25, Hex(0), 0};
    }
}

Face StartFace(State s) {
    switch (s) {
        case State::Hover:
            return {Hex(0xFFDA78), Hex(0xF58F16), Hex(0xFFE7B0), 0.12, 0.55, Hex(0xFFF3C0), 0.55};
        case State::Pressed:
            return {Hex(0xB8610A), Hex(0xE08E22), Hex(0x4E2603), 0.0, 0.0, Hex(0), 0};
        default:
            return {Hex(0xFFC951), Hex(0xD9700C), Hex(0x5E2E04), 0.10, 0.45, Hex(0), 0};
    }
}

Face StartDisabledFace(State s) {
    switch (s) {
        case State::Hover:
            return {Hex(0x7B8496), Hex(0x525A6B), Hex(0x9AA3B4), 0.08, 0.25, Hex(0xC8D0DE), 0.18};
        case State::Pressed:
            return {Hex(0x434A58), Hex(0x5A6273), Hex(0x22262F), 0.0, 0.0, Hex(0), 0};
        default:
            return {Hex(0x6B7384), Hex(0x474E5D), Hex(0x252A34), 0.06, 0.18, Hex(0), 0};
    }
}

struct ButtonStyle {
    Face (*face)(State);
    double radius;
    TextStyle text;
};

ButtonStyle StyleFor(ButtonLook look) {
    switch (look) {
        case ButtonLook::Start:
            return {StartFace, 5, {.size = 15, .colour = Hex(0xFFFFFF), .shadowAlpha = 0.55}};
        case ButtonLook::StartDisabled:
            return {
                StartDisabledFace, 5, {.size = 15, .colour = Hex(0xB9BFCA), .shadowAlpha = 0.45}};
        default:
            return {SlateFace, 4, {.size = 10, .colour = Hex(0xE6EEFC), .shadowAlpha = 0.6}};
    }
}

void PaintCross(cairo_t* cr, Rect f, Rgb colour) {
    const double cx = f.x + f.w / 2.0;
    const double cy = f.y + f.h / 2.0;
    const double a = 3.5;
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 1.8);
    cairo_move_to(cr, cx - a, cy - a);
    cairo_line_to(cr, cx + a, cy + a);
    cairo_move_to(cr, cx + a, cy - a);
    cairo_line_to(cr, cx - a, cy + a);
    SetRgb(cr, colour);
    cairo_stroke(cr);
}

void PaintTick(cairo_t* cr, Rect box) {
    const double x = box.x;
    const double y = box.y;
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, x + 4, y + 8.5);
    cairo_line_to(cr, x + 7, y + 11.5);
    cairo_line_to(cr, x + 12.5, y + 4.5);
    cairo_set_line_width(cr, 3.2);
    SetRgb(cr, Rgb{0, 0, 0}, 0.35);
    cairo_stroke_preserve(cr);
    cairo_set_line_width(cr, 2.0);
    SetRgb(cr, Rgb{1, 1, 1});
    cairo_stroke(cr);
}

Face CheckFace(State s, bool checked) {
    if (checked) {
        switch (s) {
            case State::Hover:
                return {Hex(0x78B8FF), Hex(0x2F74E0), Hex(0xC2DEFF), 0.12, 0.4, Hex(0xB0D8FF), 0.5};
            case State::Pressed:
                return {Hex(0x1C4C9E), Hex(0x2E6AC8), Hex(0x0B1C38), 0.0, 0.0, Hex(0), 0};
            default:
                return {Hex(0x4C9BFF), Hex(0x1E5FCC), Hex(0x0E2449), 0.08, 0.3, Hex(0), 0};
        }
    }
    // Unchecked: a dark well that brightens its rim under the pointer.
    switch (s) {
        case State::Hover:
            return {Hex(0x0C1526), Hex(0x1C2D4C), Hex(0x9CC2FA), 0.0, 0.0, Hex(0x6FA8FF), 0.35};
        case State::Pressed:
            return {Hex(0x070C16), Hex(0x101A2D), Hex(0x3D5B8A), 0.0, 0.0, Hex(0), 0};
        default:
            return {Hex(0x0A111F), Hex(0x18263F), Hex(0x5D80B8), 0.0, 0.0, Hex(0), 0};
    }
}

// A small triangle pointing left or right, centred in the frame.
void PaintArrow(cairo_t* cr, int w, int h, bool right, State state) {
    const double d = state == State::Pressed ? 1 : 0;
    const double cx = w / 2.0 + d;
    const double cy = h / 2.0 + d;
    const double half = 3.5;
    const double reach = right ? 2.5 : -2.5;
    cairo_move_to(cr, cx + reach, cy);
    cairo_line_to(cr, cx - reach, cy - half);
    cairo_line_to(cr, cx - reach, cy + half);
    cairo_close_path(cr);
    if (state != State::Pressed) {
        cairo_save(cr);
        cairo_translate(cr, 0, 1);
        SetRgb(cr, Rgb{0, 0, 0}, 0.5);
        cairo_fill_preserve(cr);
        cairo_restore(cr);
    }
    switch (state) {
        case State::Hover:
            SetRgb(cr, Rgb{1, 1, 1});
            break;
        case State::Pressed:
            SetRgb(cr, Hex(0x6C9BE0));
            break;
        default:
            SetRgb(cr, Hex(0xA9BCDC));
    }
    cairo_fill(cr);
}

}  // namespace

Surface DrawButtonStrip(const Surface& bg, Rect at, ButtonLook look, const std::string& label) {
    const ButtonStyle style = StyleFor(look);
    return Strip(bg, at, [&](cairo_t* cr, int w, int h, State state) {
        const Rect f = FaceRect(w, h, state);
        PaintShadow(cr, f, style.radius, state);
        PaintFace(cr, f, style.radius, style.face(state));
        TextStyle text = style.text;
        text.size = FitSize(cr, text, label, f.w - 10);
        if (state == State::Hover && look != ButtonLook::StartDisabled) {
            text.colour = Rgb{1, 1, 1};
        }
        CentredText(cr, text, label, f.x + f.w / 2.0, f.y + f.h / 2.0);
    });
}

Surface DrawCloseStrip(const Surface& bg, Rect at) {
    return Strip(bg, at, [](cairo_t* cr, int w, int h, State state) {
        const Rect f = FaceRect(w, h, state);
        if (state == State::Normal) {
            // At rest the close button is quiet: a faint glass square.
            RoundedRect(cr, f.x + 0.5, f.y + 0.5, f.w - 1, f.h - 1, 4);
            SetRgb(cr, Rgb{1, 1, 1}, 0.06);
            cairo_fill_preserve(cr);
            SetRgb(cr, Rgb{1, 1, 1}, 0.16);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
            PaintCross(cr, f, Hex(0xC9D5EA));
            return;
        }
        const bool hover = state == State::Hover;
        PaintShadow(cr, f, 4, state);
        PaintFace(
            cr, f, 4,
            hover ? Face{Hex(0xE85A62), Hex(0xB8262F), Hex(0xFF9AA0), 0.1, 0.35, Hex(0xFFB0B0), 0.4}
                  : Face{Hex(0x7E1820), Hex(0xA32A33), Hex(0x3A0A0E), 0, 0, Hex(0), 0});
        PaintCross(cr, f, Rgb{1, 1, 1});
    });
}

Surface DrawArrowStrip(const Surface& bg, Rect at, bool right) {
    return Strip(bg, at, [right](cairo_t* cr, int w, int h, State state) {
        if (state == State::Hover) {
            // Light gathers under the pointer.
            cairo_pattern_t* g =
                cairo_pattern_create_radial(w / 2.0, h / 2.0, 0, w / 2.0, h / 2.0, h / 2.0);
            cairo_pattern_add_color_stop_rgba(g, 0, 0.55, 0.78, 1.0, 0.45);
            cairo_pattern_add_color_stop_rgba(g, 1, 0.55, 0.78, 1.0, 0.0);
            cairo_set_source(cr, g);
            cairo_paint(cr);
            cairo_pattern_destroy(g);
        }
        PaintArrow(cr, w, h, right, state);
    });
}

Surface DrawCheckStrip(const Surface& bg, Rect at, bool checked) {
    return Strip(bg, at, [checked](cairo_t* cr, int w, int h, State state) {
        const int d = state == State::Pressed ? 1 : 0;
        const Rect box{1 + d, 1 + d, w - 3, h - 3};
        PaintShadow(cr, box, 3, state);
        PaintFace(cr, box, 3, CheckFace(state, checked));
        if (!checked) {
            // The well's inner shadow along its top.
            cairo_rectangle(cr, box.x + 2, box.y + 1, box.w - 4, 1);
            SetRgb(cr, Rgb{0, 0, 0}, 0.5);
            cairo_fill(cr);
            return;
        }
        PaintTick(cr, box);
    });
}

}  // namespace skinart
