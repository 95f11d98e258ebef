// varn-launcher as a player meets it: the built program placed in a game
// directory, run on a private virtual display against a patch root served
// on 127.0.0.1, and judged from outside: its windows as the X server holds
// them (pixels compared with the skin's own bitmaps), the pointer and keys
// driven through XTest, its update log, the game directory and its exit
// status. The notice page comes from the same server as the patch root.
// Screenshots of every check land in <build>/launcher-shots/.
#include "LauncherWindowFixture.h"

TEST_F(LauncherWindowTest, OpensAtTheSkinSizeWithItsControlsAndHoverFrames) {
    // An installation that is already up to date: the update completes at
    // once and the window stays open for the player.
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(1, game), 0);
    varntest::HttpServer server(fixture.Root());
    PlaceLauncher(server.url() + "/patch");
    Launch();
    const Window main = WaitFor(kMainTitle);
    ASSERT_NE(main, 0u);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(m_x, main, &a));
    EXPECT_EQ(a.width, kWindowW);
    EXPECT_EQ(a.height, kWindowH);
    EXPECT_TRUE(Poll([&] {
        return fs::exists(m_tmp / "registry/software/pellor/quorim/varnonline.ini");
    })) << "the first run registers the game";

    // Update complete: both bars full; the start button keeps its
    // disabled look while the terms are not agreed.
    ASSERT_TRUE(WaitForPixels(main, "open-complete", [&](const Shot& s) {
        return BarMismatches(s, kTotalBar, "bar_total", true) == 0 &&
               BarMismatches(s, kFileBar, "bar_file", true) == 0;
    })) << Diagnostics();
    const Shot shot = Grab(main);
    const struct {
        Rect r;
        const char* strip;
    } controls[] = {{kStart, "start_disabled"},
                    {kClose, "close"},
                    {kHome, "home"},
                    {kFaq, "faq"},
                    {kDirectX, "directx"},
                    {kScreenshots, "screenshots"},
                    {kTerms, "check_off"}};
    for (const auto& c : controls)
        EXPECT_EQ(FrameMismatches(shot, c.r, c.strip, 0), 0) << c.strip;

    // The pointer over a button draws its hover frame, and off it the
    // normal one again.
    ASSERT_GT(FrameMismatches(shot, kHome, "home", 1), 50) << "hover and normal frames differ";
    Pointer(main, kHome.x + 10, kHome.y + 10);
    EXPECT_TRUE(WaitForPixels(main, "open-hover", [&](const Shot& s) {
        return FrameMismatches(s, kHome, "home", 1) == 0;
    }));
    Pointer(main, 400, 200);
    EXPECT_TRUE(WaitForPixels(main, "open-unhover", [&](const Shot& s) {
        return FrameMismatches(s, kHome, "home", 0) == 0;
    }));

    Click(main, kClose);
    EXPECT_EQ(ExitStatus(10), 0) << Diagnostics();
}

TEST_F(LauncherWindowTest, UpdateRunsToCompleteAndTheGameStartsOnlyOnceItCan) {
    CPublishFixture fixture(3);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::HttpServer server(fixture.Root());
    PlaceLauncher(server.url() + "/patch");
    const std::string system32 = m_tmp / "wine/drive_c/windows/system32";
    fs::create_directories(system32);
    Launch();
    const Window main = WaitFor(kMainTitle);
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(WaitForPixels(main, "update-complete", [&](const Shot& s) {
        return BarMismatches(s, kTotalBar, "bar_total", true) == 0 &&
               BarMismatches(s, kFileBar, "bar_file", true) == 0;
    })) << Diagnostics();
    for (const std::string& name : CPublishFixture::FileNames(2))
        EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 2)) << name;
    const std::string log = UpdateLog();
    EXPECT_NE(log.find("1.0.0.2_to_1.0.0.3"), std::string::npos) << log;

    // Terms agreed: the start button looks ready.
    Click(main, kTerms);
    Pointer(main, 400, 200);
    EXPECT_TRUE(WaitForPixels(main, "update-terms", [&](const Shot& s) {
        return FrameMismatches(s, kTerms, "check_on", 0) == 0 &&
               FrameMismatches(s, kStart, "start", 0) == 0;
    }));

    // A Wine prefix without DirectX 9.0c: the diagnostics button says what
    // the check sees; the check refuses, the reason is shown, and the game
    // is not started.
    Click(main, kDirectX);
    DismissBox("directx-box");
    Click(main, kStart);
    DismissBox("start-directx-refused-box");
    EXPECT_TRUE(Find(kMainTitle).has_value()) << "a refused start keeps the launcher open";
    EXPECT_NE(UpdateLog().find("CustomErrorCode 1402"), std::string::npos) << Diagnostics();
    EXPECT_EQ(UpdateLog().find("ExecuteProgram()"), std::string::npos) << Diagnostics();

    // No portal installed: the reason is shown and the launcher stays.
    varntest::TempDir::WriteFile(
        system32 + "/d3d9.dll",
        varntest::MakePe({false, true, varntest::FileVersion(5, 3, 1, 904)}).bytes);
    Click(main, kStart);
    DismissBox("start-failed-box");
    EXPECT_TRUE(Find(kMainTitle).has_value()) << "a failed start keeps the launcher open";
    EXPECT_EQ(ExitStatus(0), -1);

    // With the portal in place the game starts and the launcher ends.
    const std::string portal = m_tmp / "portal";
    varntest::TempDir::WriteFile(portal + "/QuorimLauncher.exe",
                                 "#!/bin/sh\necho \"$@\" > \"$0.args\"\n");
    fs::permissions(portal + "/QuorimLauncher.exe", fs::perms::owner_all);
    ASSERT_TRUE(plat::RegistryWriteString("Software\\Pellor\\Quorim", "Common", portal + "/"));
    Click(main, kStart);
    EXPECT_EQ(ExitStatus(10), 0) << Diagnostics();
    EXPECT_TRUE(Poll([&] { return fs::exists(portal + "/QuorimLauncher.exe.args"); }));
}

// The same update from an FTP patch root, the account given on the
// launcher's command line.
TEST_F(LauncherWindowTest, UpdateRunsToCompleteFromAnFtpPatchRoot) {
    CPublishFixture fixture(3);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::FtpServer server(fixture.Root());
    PlaceLauncher(server.url() + "/patch");
    Launch("", {"-savelog", "-user", "varn", "-pass", "secret"});
    const Window main = WaitFor(kMainTitle);
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(WaitForPixels(main, "ftp-update-complete", [&](const Shot& s) {
        return BarMismatches(s, kTotalBar, "bar_total", true) == 0;
    })) << Diagnostics();
    for (const std::string& name : CPublishFixture::FileNames(2))
        EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 2)) << name;
    EXPECT_EQ(server.Requests("patch/1.0.0.2_to_1.0.0.3.lbc", 1), 1);
    EXPECT_EQ(UpdateLog().find("secret"), std::string::npos);
}

TEST_F(LauncherWindowTest, FailedUpdateShowsItsErrorAndTheLauncherCloses) {
    PlaceLauncher("http://127.0.0.1:" + std::to_string(varntest::PickFreePort()) + "/patch");
    Launch();
    ASSERT_NE(WaitFor(kMainTitle), 0u);
    DismissBox("failed-box");
    EXPECT_EQ(ExitStatus(10), 0) << Diagnostics();
    const std::string log = UpdateLog();
    EXPECT_NE(log.find("ErrorCode"), std::string::npos) << log;
    EXPECT_NE(log.find("업데이트 모듈이 삭제되었습니다."), std::string::npos) << log;
}

// The window's menu (from the emblem) repairs a damaged game file once the
// update has ended, and says what it found in a box.
TEST_F(LauncherWindowTest, RepairFromTheMenuPutsBackADamagedFile) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(1, game), 0);
    varntest::HttpServer server(fixture.Root());
    PlaceLauncher(server.url() + "/patch");
    varntest::TempDir::WriteFile(game + "/Data/common.dat", "broken");
    Launch();
    const Window main = WaitFor(kMainTitle);
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(Poll([&] { return UpdateLog().find("Not Need") != std::string::npos; }))
        << Diagnostics();
    // The emblem opens the menu, a pop-up window of its own; its second
    // item is the repair (with or without the first one under the pointer).
    const auto menuShown = [&] {
        Window root = DefaultRootWindow(m_x), parent = 0, *kids = nullptr;
        unsigned n = 0;
        bool shown = false;
        if (XQueryTree(m_x, root, &root, &parent, &kids, &n)) {
            for (unsigned i = 0; i < n; ++i) {
                XWindowAttributes a{};
                shown = shown || (XGetWindowAttributes(m_x, kids[i], &a) && a.override_redirect &&
                                  a.map_state == IsViewable);
            }
            XFree(kids);
        }
        return shown;
    };
    Pointer(main, 15, 17, true);
    ASSERT_TRUE(Poll(menuShown, 10)) << Diagnostics();
    Key(XK_Down);
    Key(XK_Down);
    Key(XK_Return);
    ASSERT_TRUE(Poll([&] { return UpdateLog().find("Repair requested") != std::string::npos; }))
        << Diagnostics();
    DismissBox("repair-box");
    EXPECT_EQ(ReadText(game + "/Data/common.dat"), CPublishFixture::Content("Data/common.dat", 1));
    EXPECT_NE(UpdateLog().find("damaged  Data\\common.dat, repaired"), std::string::npos)
        << UpdateLog();
    EXPECT_TRUE(Find(kMainTitle).has_value()) << "the launcher stays";
}

// A newer launcher on the server: the window closes and the process goes
// on as the new launcher, with the options and the hand-over request.
TEST_F(LauncherWindowTest, NewerLauncherOnTheServerClosesTheWindowAndHandsOver) {
    CPublishFixture fixture(2);
    const std::string launcher = fixture.Root() + "/launcher/varn-launcher";
    // Stands in for the new launcher: writes down how it was started.
    CPublishFixture::WriteFile(
        launcher, "#!/bin/sh\necho \"$@\" > \"" + game + "/handed-over.txt\"\nexit 42\n");
    fs::permissions(launcher, fs::perms::owner_exec, fs::perm_options::add);
    for (const char* lib : {"libvarncore.so", "libvarnplatform.so"})
        CPublishFixture::WriteFile(fixture.Root() + "/launcher/" + lib, "");
    ASSERT_EQ(fixture.Publish({"--launcher-version", "1.0.6.2", "--launcher-dir",
                               fixture.Root() + "/launcher"}),
              0);
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::HttpServer server(fixture.Root());
    PlaceLauncher(server.url() + "/patch");
    Launch();
    ASSERT_NE(WaitFor(kMainTitle), 0u);
    // No box waits for the player: a hand-over is no failure.
    EXPECT_EQ(ExitStatus(20), 42) << Diagnostics();
    EXPECT_EQ(ReadText(game + "/handed-over.txt"), "-savelog -copy /" + game + "\n");
}

// The new launcher, started from the update directory with "-copy", puts
// the listed files in place and becomes the installed launcher without an
// update of its own.
TEST_F(LauncherWindowTest, CopyStepInstallsTheListedFilesAndHandsOver) {
    const std::string source = game + "/Update/LAUNCHER";
    PlaceLauncher("http://127.0.0.1:" + std::to_string(varntest::PickFreePort()) + "/patch");
    const fs::path bin = fs::path(VARN_BINARY_DIR) / "bin";
    fs::create_directories(source);
    for (const char* name :
         {"varn-launcher", "libvarncore.so", "libvarnplatform.so", "Resource_Jpn.ini"})
        fs::copy_file(bin / name, fs::path(source) / name);
    fs::copy(bin / "skin", fs::path(source) / "skin", fs::copy_options::recursive);
    CPublishFixture::WriteFile(source + "/Data/notes.txt", "new notes");
    CPublishFixture::WriteFile(
        source + "/clientlist.uvf",
        varntest::CVersionFileWriter::Scramble("[SETUP]\nFILECOUNT=1\nFILE0=Data\\notes.txt\n"));
    // The installed launcher it restarts stands in as a script.
    CPublishFixture::WriteFile(game + "/varn-launcher", "#!/bin/sh\necho \"$@\" > \"" + game +
                                                            "/handed-over.txt\"\nexit 42\n");

    Launch(source + "/varn-launcher", {"-savelog", "-copy", "/" + game});
    EXPECT_EQ(ExitStatus(20), 42) << Diagnostics();
    EXPECT_EQ(ReadText(game + "/Data/notes.txt"), "new notes");
    EXPECT_EQ(ReadText(game + "/handed-over.txt"), "-savelog -checked " + source + "\n");
}

TEST_F(LauncherWindowTest, CloseDuringADownloadStopsTheWorkerAndExits) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish({"--store"}), 0);  // stored: the archive stays 100 KB
    ASSERT_EQ(fixture.Install(0, game), 0);
    varntest::HttpServer server(fixture.Root(), "limit_rate 8k;");
    PlaceLauncher(server.url() + "/patch");
    Launch();
    const Window main = WaitFor(kMainTitle);
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(Poll([&] {
        return UpdateLog().find("1.0.0.1_to_1.0.0.2.lbc") != std::string::npos;
    })) << Diagnostics();
    Grab(main).Save("download-closing");

    Click(main, kClose);
    EXPECT_TRUE(Poll([&] { return !Find(kMainTitle); }, 2)) << "the window goes at once";
    EXPECT_EQ(ExitStatus(5), 0) << Diagnostics();
    EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 0));
    EXPECT_NE(UpdateLog().find("업데이트 모듈이 삭제되었습니다."), std::string::npos);
}

TEST_F(LauncherWindowTest, OptionsDialogWritesWhatThePlayerChanged) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(1, game), 0);
    varntest::HttpServer server(fixture.Root());
    PlaceLauncher(server.url() + "/patch");
    // Written by the game: a mode late in the list, full screen as the
    // game's own value 2, and a key of the game's that the dialog does not
    // know.
    varntest::TempDir::WriteFile(game + "/3DSetup.ini",
                                 "[Screen]\nWidth=1360\nHeight=768\nFullScreen=2\n");
    varntest::TempDir::WriteFile(game + "/GameData.dat", "[PARAM]\nGamma=1.0\nSound=3\n");
    Launch();
    const Window main = WaitFor(kMainTitle);
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(WaitForPixels(main, "options-main", [&](const Shot& s) {
        return BarMismatches(s, kTotalBar, "bar_total", true) == 0;
    })) << Diagnostics();

    const std::string title =
        *plat::ProfileText(ReadText(game + "/Resource_Jpn.ini")).Find("Strings", "122");
    Click(main, kOptions);
    const Window options = WaitFor(title);
    ASSERT_NE(options, 0u);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(m_x, options, &a));
    EXPECT_EQ(a.width, 425);
    EXPECT_EQ(a.height, 305);
    EXPECT_TRUE(WaitForPixels(options, "options-open", [&](const Shot& s) {
        return FrameMismatches(s, kOptionShadow, "option_check_on", 0) == 0 &&
               FrameMismatches(s, kOptionWindowMode, "option_check_off", 0) == 0 &&
               FrameMismatches(s, kOptionOk, "option_ok", 0) == 0;
    }));

    // Window mode on, gamma two steps up, then OK.
    Click(options, kOptionWindowMode);
    Click(options, kOptionGammaUp);
    Click(options, kOptionGammaUp);
    Pointer(options, 200, 290);
    EXPECT_TRUE(WaitForPixels(options, "options-changed", [&](const Shot& s) {
        return FrameMismatches(s, kOptionWindowMode, "option_check_on", 0) == 0;
    }));
    Click(options, kOptionOk);
    EXPECT_TRUE(Poll([&] { return !Find(title); })) << "OK closes the dialog";
    EXPECT_EQ(ReadText(game + "/3DSetup.ini"),
              "[Screen]\nWidth=1360\nHeight=768\nFullScreen=0\nRed=8\nGreen=8\nBlue=8\n");
    EXPECT_EQ(ReadText(game + "/GameData.dat"),
              "[PARAM]\nGAMMA=1.200000\nSound=3\nTextureQuality=0\nLOD=2\nEffectQuality=0\n"
              "ShadowON=1\nBlurState=1\nFogState=1\nMapSpecular=1\n");
    EXPECT_FALSE(fs::exists(game + "/3dsetup.ini")) << "the game's file, not a second one";

    Click(main, kClose);
    EXPECT_EQ(ExitStatus(10), 0) << Diagnostics();
}

// The notice page: served beside the patch root, shown in the browser
// area, given window.external on its own origin only (an embedded frame of
// another origin, localhost here, reaches none of it), with confirm as the
// launcher's OK/Cancel box, no prompt and no printing, Enter and Escape for
// its form; CB_Close closes the launcher.
TEST_F(LauncherWindowTest, NoticePageShowsAndItsOwnScriptReachesTheExternalNames) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(1, game), 0);
    varntest::HttpServer server(fixture.Root());
    const std::string other = "http://localhost:" + std::to_string(server.port());
    // Green when every answer is the launcher's, red otherwise; purple once
    // confirm was answered Cancel.
    varntest::TempDir::WriteFile(fixture.Root() + "/notice.html", R"(<!doctype html>
<html><head><style>html, body { margin: 0; height: 100%; background: #2050a0; }</style></head>
<body><iframe id="frame" style="width: 4px; height: 4px; border: 0"></iframe>
<form id="form" style="position: absolute; left: 20px; top: 300px">
<input id="field" style="width: 150px; height: 24px"></form><script>
var paint = function (c) { document.body.style.background = c; };
document.getElementById("field").addEventListener("focus", function () { paint("#303030"); });
document.getElementById("field").addEventListener("keydown", function (k) {
  if (k.key === "Escape") paint("#c0c000");
});
document.getElementById("form").addEventListener("submit", function (f) {
  f.preventDefault();
  paint("#00c0c0");
});
function answers() {
  var e = window.external, unknown = 0;
  try { e.cb_close(); } catch (x) { ++unknown; }
  try { e.CB_Nothing(); } catch (x) { ++unknown; }
  window.print();  // refused: a print dialog would hold the page here
  return prompt("refused?") === null && e.CB_IsOurCustomBrowser() === true &&
      e.CB_CustomFunction() === true &&
      e.CB_CustomFunctionWithParams("news", 3) === true && typeof e.CB_Close === "function" &&
      unknown === 2;
}
window.addEventListener("message", function (m) {
  var ok = false;
  try { ok = m.data === "frame: nothing" && answers(); } catch (x) {}
  document.body.style.background = ok ? "#00c060" : "#c00000";
});
document.addEventListener("click", function (c) {
  if (c.target.id === "field") return;
  if (confirm("Close the launcher?")) window.external.CB_Close();
  else document.body.style.background = "#8000c0";
});
document.getElementById("frame").src = ")" + other + R"(/frame.html";
</script></body></html>)");
    varntest::TempDir::WriteFile(fixture.Root() + "/frame.html", R"(<!doctype html><script>
var reached = [];
if (window.external && window.external.CB_Close) reached.push("own external");
try { window.top.external.CB_Close(); reached.push("top external"); } catch (x) {}
var h = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.varnExternal;
if (h) h.postMessage({secret: "", name: "CB_Close", text: "", number: 0});
parent.postMessage("frame: " + (reached.join(", ") || "nothing"), "*");
</script>)");
    PlaceLauncher(server.url() + "/patch", server.url() + "/notice.html");
    Launch();
    const Window main = WaitFor(kMainTitle);
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(WaitForPixels(main, "notice-answers", [](const Shot& s) {
        return BrowserShows(s, 0x00C060);
    })) << Diagnostics();
    // The frame's own message to the launcher's channel was refused.
    EXPECT_TRUE(Poll([&] {
        return UpdateLog().find("External call refused [CB_Close]") != std::string::npos;
    })) << Diagnostics();
    EXPECT_EQ(ExitStatus(0), -1) << "nothing has closed the launcher yet";

    // Escape and Enter reach the page's form, and close nothing.
    Focus(main);
    Pointer(main, kBrowser.x + 95, kBrowser.y + 312, true);
    EXPECT_TRUE(WaitForPixels(main, "notice-field",
                              [](const Shot& s) { return BrowserShows(s, 0x303030); }))
        << "the click gives the field the focus" << Diagnostics();
    Key(XK_Escape);
    EXPECT_TRUE(WaitForPixels(main, "notice-escape", [](const Shot& s) {
        return BrowserShows(s, 0xC0C000);
    })) << Diagnostics();
    Key(XK_Return);
    EXPECT_TRUE(WaitForPixels(main, "notice-enter", [](const Shot& s) {
        return BrowserShows(s, 0x00C0C0);
    })) << Diagnostics();
    EXPECT_EQ(ExitStatus(0), -1);

    Pointer(main, 500, 300, true);
    Window box = WaitFor(kPageBoxTitle);
    ASSERT_NE(box, 0u);
    Grab(box).Save("notice-confirm");
    Focus(box);
    Key(XK_Escape);
    ASSERT_TRUE(WaitForPixels(main, "notice-cancelled",
                              [](const Shot& s) { return BrowserShows(s, 0x8000C0); }))
        << "Cancel answers false" << Diagnostics();
    EXPECT_EQ(ExitStatus(0), -1);

    Pointer(main, 500, 300, true);
    box = WaitFor(kPageBoxTitle);
    ASSERT_NE(box, 0u);
    Focus(box);
    Key(XK_Return);
    EXPECT_EQ(ExitStatus(10), 0) << "OK answers true and the page closes" << Diagnostics();
    EXPECT_NE(UpdateLog().find("External call [CB_Close]"), std::string::npos);
    EXPECT_NE(UpdateLog().find("업데이트 모듈이 삭제되었습니다."), std::string::npos)
        << "through the close handshake";
}

// A notice address that refuses connections, then one the server answers
// with 404: each is loaded once and again five times, then left alone.
TEST_F(LauncherWindowTest, NoticeAddressThatFailsIsTriedFiveTimesMoreThenLeft) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(1, game), 0);
    varntest::HttpServer server(fixture.Root());
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(varntest::PickFreePort()) + "/notice.html";
    const std::string missing = server.url() + "/missing.html";
    PlaceLauncher(server.url() + "/patch");
    for (const std::string& url : {refused, missing}) {
        SCOPED_TRACE(url);
        SetNoticeUrl(url);
        fs::remove_all(game + "/Update/Log");
        Launch();
        const Window main = WaitFor(kMainTitle);
        ASSERT_NE(main, 0u);
        ASSERT_TRUE(Poll([&] { return UpdateLog().find("no retries left") != std::string::npos; }))
            << Diagnostics();
        // The last failure is left to the view's own error page, and the
        // window stays usable: the update completes and it closes.
        ASSERT_TRUE(WaitForPixels(main, "notice-retried", [&](const Shot& s) {
            int text = 0;
            for (int y = kBrowser.y; y < kBrowser.y + kBrowser.h; ++y)
                for (int x = 200; x < kBrowser.x + kBrowser.w; ++x)
                    text += s.At(x, y) == 0x000000;
            return text > 20 && BarMismatches(s, kTotalBar, "bar_total", true) == 0;
        })) << Diagnostics();
        Click(main, kClose);
        ASSERT_EQ(ExitStatus(10), 0) << Diagnostics();
        const std::string log = UpdateLog();
        EXPECT_EQ(Count(log, "URL : " + url), 6) << log;
        EXPECT_EQ(Count(log, "navigating again"), 5) << log;
        EXPECT_EQ(Count(log, "no retries left"), 1) << log;
    }
    EXPECT_EQ(server.Requests("/missing.html", 6), 6);
}
