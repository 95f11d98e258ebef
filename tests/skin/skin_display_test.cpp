// The controls on a real (virtual) X display: a keyed dialog with a bar and
// a button, drawn into an image and checked pixel by pixel, and the button
// driven by the X server's pointer.
#include <cairo.h>
#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "launcher/skin/CHoverButton.h"
#include "launcher/skin/CSkinDialog.h"
#include "launcher/skin/CStaticEx.h"
#include "launcher/skin/CTextEx.h"
#include "launcher/skin/SkinImage.h"
#include "platform/Resource.h"
#include "support/TempDir.h"
#include "support/XvfbDisplay.h"

// Last: the X headers define macros (None, Bool, Status) other headers use.
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace {

constexpr uint32_t kKey = 0xFF00FF, kBack = 0x336699;
constexpr uint32_t kFilledCap = 0x00FF00, kFilled = 0x008000, kEmptyCap = 0xFFFF00,
                   kEmpty = 0x404040;
constexpr uint32_t kNormal = 0xFF0000, kHover = 0x00FFFF, kPressed = 0x0000FF;

// Writes a PNG of w x h whose pixel colours colour(x, y) gives (0xRRGGBB).
void WritePng(const std::string& path, int w, int h,
              const std::function<uint32_t(int, int)>& colour) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
    const int stride = cairo_image_surface_get_stride(s) / 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[y * stride + x] = 0xFF000000 | colour(x, y);
    cairo_surface_mark_dirty(s);
    ASSERT_EQ(cairo_surface_write_to_png(s, path.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(s);
}

// Runs the main loop until done() holds; false after a few seconds without.
bool RunUntil(const std::function<bool()>& done) {
    bool timedOut = false;
    auto expire = [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
    };
    const guint timer = g_timeout_add(10000, expire, &timedOut);
    while (!done() && !timedOut)
        g_main_context_iteration(nullptr, TRUE);
    if (!timedOut)
        g_source_remove(timer);
    return done();
}

// What the window shows, drawn the way the toolkit draws it on screen.
class Snapshot {
public:
    explicit Snapshot(GtkWidget* window)
        : m_surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32,
                                               gtk_widget_get_allocated_width(window),
                                               gtk_widget_get_allocated_height(window))) {
        cairo_t* cr = cairo_create(m_surface);
        gtk_widget_draw(window, cr);
        cairo_destroy(cr);
        cairo_surface_flush(m_surface);
    }
    ~Snapshot() { cairo_surface_destroy(m_surface); }
    // 0xAARRGGBB
    uint32_t At(int x, int y) const {
        const auto* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(m_surface));
        return px[y * cairo_image_surface_get_stride(m_surface) / 4 + x];
    }
    uint32_t Rgb(int x, int y) const { return At(x, y) & 0xFFFFFF; }

private:
    cairo_surface_t* m_surface;
};

// The X server's own pointer, moved and pressed as a user would.
void MovePointer(int x, int y) {
    Display* x11 = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    XTestFakeMotionEvent(x11, -1, x, y, CurrentTime);
    XFlush(x11);
}
void LeftButton(bool down) {
    Display* x11 = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    XTestFakeButtonEvent(x11, 1, down ? True : False, CurrentTime);
    XFlush(x11);
}

}  // namespace

TEST(SkinDisplayTest, KeyedDialogDrawsBarAndFollowsThePointerOverAButton) {
    varntest::TempDir dir;
    // Background 120 x 40 with its top-left 10 x 10 corner in the key colour.
    WritePng(dir / "back.png", 120, 40,
             [](int x, int y) { return x < 10 && y < 10 ? kKey : kBack; });
    // Bar halves of 10: caps of 2 in their own colours, so a stretch that
    // bled across a source edge would show.
    WritePng(dir / "bar.png", 20, 4, [](int x, int) {
        const bool cap = x % 10 < 2 || x % 10 >= 8;
        return x < 10 ? (cap ? kFilledCap : kFilled) : (cap ? kEmptyCap : kEmpty);
    });
    WritePng(dir / "strip.png", 36, 8, [](int x, int) {
        return x < 12 ? kNormal : x < 24 ? kHover : kPressed;
    });
    const auto bundle = plat::ResourceBundle::FromText(
        "[Bitmaps]\n1=back.png\n2=bar.png\n3=strip.png\n", dir.path());
    skin::SetResourceHandle(bundle.get());

    varntest::XvfbDisplay display;
    display.UseForThisProcess();
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << display.name();

    CSkinDialog dialog;
    ASSERT_EQ(dialog.SetBackground(1), 1);
    dialog.SetDrawMode(skin::kDrawFitWindow);
    ASSERT_EQ(dialog.SetTransparent(kKey, true), 1);
    CStaticEx bar;
    ASSERT_EQ(bar.SetBitmap(2), 1);
    dialog.Place(bar.widget(), 10, 20, 100, 4);
    bar.SetRange(50);
    bar.SetPos(15);
    CHoverButton button;
    dialog.Place(button.widget(), 60, 5, 1, 1);
    ASSERT_EQ(button.LoadStrip(3), 1);
    ASSERT_TRUE(button.SetCursor(CHoverButton::kHandCursor));
    int clicks = 0;
    button.SetOnClicked([&] { ++clicks; });
    CTextEx missing;
    EXPECT_EQ(missing.SetBackground(99), 0);  // unknown id: nothing to draw, no failure

    GtkWidget* window = GTK_WIDGET(dialog.window());
    gtk_widget_show(window);
    ASSERT_TRUE(RunUntil([&] {
        return gtk_widget_get_mapped(button.widget()) && button.width() == 12 &&
               gtk_widget_get_allocated_width(window) == 120 &&
               gtk_widget_get_allocated_height(window) == 40;
    })) << "the window takes the background's size, the button one frame's";

    {
        const Snapshot shot(window);
        EXPECT_EQ(shot.At(3, 3) >> 24, 0u) << "key colour drawn transparent";
        EXPECT_EQ(shot.Rgb(12, 3), kBack);
        EXPECT_EQ(shot.Rgb(60 + 5, 5 + 4), kNormal);
        // Bar at x 10, 100 wide: 15 of 50 fills 30 pixels.
        const std::map<int, uint32_t> bar = {{0, kFilledCap}, {1, kFilledCap}, {2, kFilled},
                                             {29, kFilled},   {30, kEmpty},    {97, kEmpty},
                                             {98, kEmptyCap}, {99, kEmptyCap}};
        for (const auto& [x, colour] : bar)
            EXPECT_EQ(shot.Rgb(10 + x, 21), colour) << "bar column " << x;
        EXPECT_EQ(shot.Rgb(10 + 50, 24), kBack) << "the bar is its bitmap's height";
    }
    const cairo_region_t* shape = dialog.Shape();
    ASSERT_NE(shape, nullptr);
    EXPECT_FALSE(cairo_region_contains_point(shape, 3, 3));
    EXPECT_TRUE(cairo_region_contains_point(shape, 12, 3));
    EXPECT_TRUE(cairo_region_contains_point(shape, 3, 12));

    // Onto the button, pressed, released on it; then off the window.
    int bx = 0, by = 0;
    gdk_window_get_origin(gtk_widget_get_window(button.widget()), &bx, &by);
    MovePointer(bx + 4, by + 4);
    ASSERT_TRUE(RunUntil([&] { return button.State() == skin::ButtonState::Hover; }));
    EXPECT_EQ(Snapshot(window).Rgb(64, 9), kHover);
    LeftButton(true);
    ASSERT_TRUE(RunUntil([&] { return button.State() == skin::ButtonState::Pressed; }));
    EXPECT_EQ(Snapshot(window).Rgb(64, 9), kPressed);
    LeftButton(false);
    ASSERT_TRUE(RunUntil([&] { return clicks == 1; }));
    EXPECT_EQ(button.State(), skin::ButtonState::Hover);
    MovePointer(bx + 200, by + 200);
    ASSERT_TRUE(RunUntil([&] { return button.State() == skin::ButtonState::Normal; }));
    EXPECT_EQ(Snapshot(window).Rgb(64, 9), kNormal);
    skin::SetResourceHandle(nullptr);
}
