// A text label: one line of plain text (never markup) over an optional
// background bitmap, in its own font and colour, cut with an ellipsis at
// the end when it does not fit. Optionally a left press on it moves the
// window it sits in.
// Main thread only (see SkinWidget): the update worker never calls SetText;
// the window hands the text over to the main thread.
#pragma once
#include <pango/pango.h>

#include <cstdint>
#include <string>

#include "launcher/skin/SkinGeometry.h"
#include "launcher/skin/SkinImage.h"
#include "launcher/skin/SkinWidget.h"

// A font by family list (fontconfig falls back along it), weight (400
// normal, 700 bold) and size in pixels.
struct TextFont {
    std::string family;
    int weight = 600;
    int pixelSize = 9;
};

class CTextEx : public SkinWidget {
public:
    // The skin's face: a Korean and Japanese capable list, semi-bold.
    static constexpr const char* kDefaultFamily = "Gulim, Noto Sans CJK JP, Noto Sans CJK KR, sans";
    // The default font at `points` (7 for most labels) at 96 pixels per inch.
    static TextFont DefaultFont(int points);

    explicit CTextEx(int points = 7);
    ~CTextEx();

    // Each setter repaints. Colours are 0xRRGGBB; black by default.
    void SetTextColor(uint32_t rgb);
    // Returns 0 when the bitmap does not load (no background is drawn then).
    int SetBackground(unsigned id);
    void SetFont(const TextFont& font);
    // Alignment flags as skin::MapAlignFlags reads them; 4 (left, vertically
    // centred) by default.
    void SetAlign(unsigned flags);
    void SetDragParent(bool drag);
    // UTF-8; invalid bytes are shown as replacement characters.
    void SetText(const std::string& text);

    const std::string& GetText() const { return m_text; }
    const TextFont& GetFont() const { return m_font; }

private:
    static gboolean OnDraw(GtkWidget* w, cairo_t* cr, gpointer self);
    static gboolean OnPress(GtkWidget* w, GdkEventButton* e, gpointer self);

    SkinImage m_background;
    uint32_t m_color = 0x000000;
    unsigned m_align = skin::kAlignVCentre;
    bool m_dragParent = false;
    TextFont m_font;
    PangoFontDescription* m_fontDesc = nullptr;  // owned, made from m_font
    std::string m_text;
};
