// The window tests' fixture: a game directory with the built launcher,
// a private Xvfb, screenshots of the launcher's windows compared with the
// skin's own bitmaps, XTest pointer and keys, and the launcher's logs and
// exit status. Included by launcher_window_test.cpp only.
#pragma once
#include <cairo.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/Thread.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/PeWriter.h"
#include "support/PublishFixture.h"
#include "support/TempDir.h"
#include "support/VersionFileWriter.h"
#include "support/XvfbDisplay.h"

// Last: the X headers define macros (None, Bool, Status) other headers use.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace fs = std::filesystem;
using varntest::CPublishFixture;

namespace {

constexpr auto ReadText = varntest::TempDir::ReadFile;
constexpr const char* kMainTitle = "Kestrel Beta 1.0.6.1";
constexpr const char* kBoxTitle = "Update Program";
constexpr const char* kPageBoxTitle = "Osterra Browser";
constexpr int kWindowW = 800, kWindowH = 492;

struct Rect {
    int x, y, w, h;
};
// Controls of the main window (client pixels) and their bitmaps.
constexpr Rect kStart{652, 447, 121, 31}, kClose{773, 9, 22, 21}, kHome{510, 9, 79, 20},
    kFaq{679, 9, 79, 20}, kDirectX{116, 437, 83, 21}, kScreenshots{370, 437, 83, 21},
    kTerms{521, 452, 19, 19}, kTotalBar{121, 475, 308, 7}, kFileBar{121, 462, 308, 12},
    kOptions{243, 437, 83, 21}, kBrowser{8, 35, 783, 394};
// Controls of the options dialog.
constexpr Rect kOptionShadow{23, 194, 19, 19}, kOptionWindowMode{295, 194, 19, 19},
    kOptionGammaUp{246, 142, 10, 14}, kOptionOk{245, 262, 79, 26};

std::string SkinFile(const std::string& name) {
    return std::string(VARN_BINARY_DIR) + "/bin/skin/" + name + ".png";
}

// A bitmap of the skin, as the launcher loads it.
class Bitmap {
public:
    explicit Bitmap(const std::string& name)
        : m_s(cairo_image_surface_create_from_png(SkinFile(name).c_str())) {}
    ~Bitmap() { cairo_surface_destroy(m_s); }
    bool ok() const { return cairo_surface_status(m_s) == CAIRO_STATUS_SUCCESS; }
    int w() const { return cairo_image_surface_get_width(m_s); }
    int h() const { return cairo_image_surface_get_height(m_s); }
    uint32_t At(int x, int y) const {  // 0xAARRGGBB
        const auto* px = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(m_s));
        return px[y * cairo_image_surface_get_stride(m_s) / 4 + x];
    }

private:
    cairo_surface_t* m_s;
};

// A window's pixels as the X server holds them (0xRRGGBB).
struct Shot {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[y * w + x]; }
    void Save(const std::string& name) const {
        const std::string dir = std::string(VARN_BINARY_DIR) + "/launcher-shots";
        fs::create_directories(dir);
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
        auto* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
        const int stride = cairo_image_surface_get_stride(s) / 4;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out[y * stride + x] = At(x, y);
        cairo_surface_mark_dirty(s);
        cairo_surface_write_to_png(s, (dir + "/" + name + ".png").c_str());
        cairo_surface_destroy(s);
    }
};

// Points of the browser area that no control of the window covers (the
// status line lies over its left part, and the test page keeps its form
// there too) all show rgb.
bool BrowserShows(const Shot& shot, uint32_t rgb) {
    for (int y = kBrowser.y + 5; y < kBrowser.y + kBrowser.h; y += 40)
        for (int x = 200; x < kBrowser.x + kBrowser.w; x += 60)
            if (shot.At(x, y) != rgb)
                return false;
    return true;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Opaque pixels of frame `frame` of a strip (or of a bitmap region
// starting at srcX) that the window does not show at r.
int Mismatches(const Shot& shot, const Rect& r, const Bitmap& bmp, int srcX) {
    int bad = 0;
    for (int y = 0; y < r.h; ++y)
        for (int x = 0; x < r.w; ++x) {
            const uint32_t want = bmp.At(srcX + x, y);
            if (want >> 24 == 0xFF && shot.At(r.x + x, r.y + y) != (want & 0xFFFFFF))
                ++bad;
        }
    return bad;
}
int FrameMismatches(const Shot& shot, const Rect& r, const std::string& strip, int frame) {
    const Bitmap bmp(strip);
    EXPECT_TRUE(bmp.ok()) << strip;
    return bmp.ok() ? Mismatches(shot, r, bmp, frame * bmp.w() / 3) : -1;
}
// A bar drawn full shows the bitmap's left (filled) half, an empty one its
// right half, each column for column.
int BarMismatches(const Shot& shot, const Rect& r, const std::string& bitmap, bool full) {
    const Bitmap bmp(bitmap);
    EXPECT_TRUE(bmp.ok()) << bitmap;
    return bmp.ok() ? Mismatches(shot, r, bmp, full ? 0 : bmp.w() / 2) : -1;
}

bool Poll(const std::function<bool()>& done, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        plat::Sleep(50);
    }
    return true;
}

class LauncherWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_display.UseForThisProcess();
        m_x = XOpenDisplay(m_display.name().c_str());
        ASSERT_NE(m_x, nullptr) << m_display.name();
        // The launcher's windows come and go while the test looks at them:
        // a request about one that has just gone fails, and is retried.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        setenv("VARN_REGISTRY_DIR", (m_tmp / "registry").c_str(), 1);
        // The launcher's plain copy of its type file goes here, not into
        // a temporary directory other tests share.
        if (const char* outer = getenv("TMPDIR"))
            m_outerTmp = outer;
        fs::create_directories(m_tmp / "tmp");
        setenv("TMPDIR", (m_tmp / "tmp").c_str(), 1);
        setenv("XDG_DESKTOP_DIR", (m_tmp / "desktop").c_str(), 1);
        // The game's Wine prefix, not set up yet unless a test makes it.
        setenv("WINEPREFIX", (m_tmp / "wine").c_str(), 1);
    }
    void TearDown() override {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_x != nullptr)
            XCloseDisplay(m_x);
        if (m_outerTmp)
            setenv("TMPDIR", m_outerTmp->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

    // The installed set beside a version.ini naming the patch root; the
    // marker file switches the update log on for "-savelog". The notice
    // page is none unless a test serves one.
    void PlaceLauncher(const std::string& patchRoot, const std::string& noticeUrl = "about:blank") {
        varntest::TempDir::WriteFile(game + "/version.ini",
                                     "[PATH]\nPatchRoot=" + patchRoot + "\n");
        SetNoticeUrl(noticeUrl);
        varntest::TempDir::WriteFile(game + "/LauncherLog.log", "");
        const fs::path bin = fs::path(VARN_BINARY_DIR) / "bin";
        for (const char* name :
             {"varn-launcher", "libvarncore.so", "libvarnplatform.so", "Resource_Jpn.ini"})
            fs::copy_file(bin / name, fs::path(game) / name, fs::copy_options::overwrite_existing);
        fs::copy(bin / "skin", fs::path(game) / "skin", fs::copy_options::recursive);
    }
    // The launcher type file (scrambled, in Update/) naming the notice page.
    void SetNoticeUrl(const std::string& url) {
        varntest::TempDir::WriteFile(
            game + "/Update/type.uvf",
            varntest::CVersionFileWriter::Scramble("[SETUP]\nSAVELOG=1\nNOTICEURL=" + url + "\n"));
    }
    // The installed launcher with "-savelog", or the program exe with args.
    void Launch(std::string exe = "", std::vector<std::string> args = {"-savelog"}) {
        if (exe.empty())
            exe = game + "/varn-launcher";
        args.insert(args.begin(), exe);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a failed test
            (void)!freopen("/dev/null", "r", stdin);
            (void)!freopen(out.c_str(), "w", stdout);
            dup2(fileno(stdout), 2);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        ASSERT_GT(m_pid, 0);
    }
    // The exit status once the launcher has ended within the bound; -1 if
    // it has not (or was killed).
    int ExitStatus(int seconds) {
        int status = 0;
        const bool ended = Poll([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, seconds);
        if (!ended)
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string UpdateLog() const {
        std::string all;
        if (fs::exists(game + "/Update/Log"))
            for (const auto& e : fs::directory_iterator(game + "/Update/Log"))
                all += ReadText(e.path().string());
        return all;
    }
    std::string Diagnostics() {
        return "\nupdate log:\n" + UpdateLog() + "\noutput:\n" + ReadText(out);
    }

    // A window's title as the toolkit sets it (UTF-8; the older WM_NAME
    // holds titles beyond Latin-1 in another encoding).
    std::string Title(Window w) {
        const Atom netName = XInternAtom(m_x, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(m_x, "UTF8_STRING", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string title;
        if (XGetWindowProperty(m_x, w, netName, 0, 1024, False, utf8, &type, &format, &count,
                               &after, &data) == Success &&
            data != nullptr) {
            title.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
        }
        return title;
    }
    // A shown top-level window of the launcher with that title.
    std::optional<Window> Find(const std::string& title) {
        Window root = DefaultRootWindow(m_x), parent = 0, *children = nullptr;
        unsigned count = 0;
        std::optional<Window> found;
        if (!XQueryTree(m_x, root, &root, &parent, &children, &count))
            return found;
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes a;
            XClassHint hint{};
            if (!XGetWindowAttributes(m_x, children[i], &a) || a.map_state != IsViewable)
                continue;
            if (XGetClassHint(m_x, children[i], &hint)) {
                const bool ours = std::string(hint.res_class) == "jp.varn.Launcher";
                XFree(hint.res_name);
                XFree(hint.res_class);
                if (ours && Title(children[i]) == title)
                    found = children[i];
            }
        }
        XFree(children);
        return found;
    }
    Window WaitFor(const std::string& title) {
        std::optional<Window> w;
        EXPECT_TRUE(Poll([&] { return (w = Find(title)).has_value(); })) << title << Diagnostics();
        return w.value_or(0);
    }
    Shot Grab(Window w) {
        Shot shot;
        XWindowAttributes a;
        if (!XGetWindowAttributes(m_x, w, &a))
            return shot;
        XImage* image = XGetImage(m_x, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
        if (image == nullptr)
            return shot;
        shot.w = a.width;
        shot.h = a.height;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x)
                shot.px.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        XDestroyImage(image);
        return shot;
    }
    // Polls screenshots of w until check holds; the last one is saved.
    bool WaitForPixels(Window w, const std::string& name,
                       const std::function<bool(const Shot&)>& check, int seconds = 20) {
        Shot shot;
        const bool ok = Poll(
            [&] {
                shot = Grab(w);
                return shot.w > 0 && check(shot);
            },
            seconds);
        shot.Save(name);
        return ok;
    }
    // The pointer onto a point of a window (client pixels), optionally
    // clicking there.
    void Pointer(Window w, int x, int y, bool click = false) {
        int rx = 0, ry = 0;
        Window child = 0;
        XTranslateCoordinates(m_x, w, DefaultRootWindow(m_x), x, y, &rx, &ry, &child);
        XTestFakeMotionEvent(m_x, -1, rx, ry, CurrentTime);
        if (click) {
            XTestFakeButtonEvent(m_x, 1, True, CurrentTime);
            XTestFakeButtonEvent(m_x, 1, False, CurrentTime);
        }
        XFlush(m_x);
    }
    void Click(Window w, const Rect& r) { Pointer(w, r.x + r.w / 2, r.y + r.h / 2, true); }
    // Gives w the keyboard, as a window manager would on a click (the bare
    // X server has none).
    void Focus(Window w) {
        XSetInputFocus(m_x, w, RevertToPointerRoot, CurrentTime);
        XFlush(m_x);
    }
    // A key pressed and released in the window that has the keyboard.
    void Key(KeySym key) {
        const KeyCode code = XKeysymToKeycode(m_x, key);
        XTestFakeKeyEvent(m_x, code, True, CurrentTime);
        XTestFakeKeyEvent(m_x, code, False, CurrentTime);
        XFlush(m_x);
    }
    // Dismisses the message box with its OK button, at the foot of the box.
    void DismissBox(const std::string& shotName) {
        const Window box = WaitFor(kBoxTitle);
        ASSERT_NE(box, 0u);
        const Shot shot = Grab(box);
        shot.Save(shotName);
        Pointer(box, shot.w / 2, shot.h - 12, true);
        ASSERT_TRUE(Poll([&] { return !Find(kBoxTitle); })) << "the box goes with OK";
    }

    varntest::XvfbDisplay m_display;
    Display* m_x = nullptr;
    varntest::TempDir m_tmp;
    const std::string game = m_tmp / "game";
    const std::string out = m_tmp / "out.txt";
    pid_t m_pid = -1;
    std::optional<std::string> m_outerTmp;
};

}  // namespace
