// The launcher window's plain parts: the progress presentation, the start
// and close rules, the first-run housekeeping and the notice page's rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "host/DirectXReport.h"
#include "host/FirstRun.h"
#include "host/LauncherRules.h"
#include "host/NoticeExternal.h"
#include "host/NoticePolicy.h"
#include "host/NotificationQueue.h"
#include "host/ShutdownHandshake.h"
#include "host/UpdatePresenter.h"
#include "host/VersionIni.h"
#include "platform/File.h"
#include "platform/Registry.h"
#include "support/TempDir.h"

using varntest::TempDir;

namespace {

// "pos text" of an optional bar, "-" when the bar is left as it is.
std::string Shown(const std::optional<BarUpdate>& bar) {
    return bar ? std::to_string(bar->position) + " " + bar->text : "-";
}

std::vector<PresenterAction> Actions(const Presentation& p) {
    std::vector<PresenterAction> out;
    for (const PresenterStep& s : p.steps)
        out.push_back(s.action);
    return out;
}

std::vector<ShutdownAction> Actions(const std::vector<ShutdownStep>& steps) {
    std::vector<ShutdownAction> out;
    for (const ShutdownStep& s : steps)
        out.push_back(s.action);
    return out;
}

}  // namespace

TEST(UpdatePresenterTest, BarsFollowTheirOwnCountsAndStayInRange) {
    constexpr uint64_t kHuge = 0xF000000000000000ull;
    struct Case {
        int32_t code;
        uint64_t fileReceived, fileSize, totalReceived, totalSize;
        int32_t index, count;
        uint64_t percent;
        const char* file;
        const char* total;
    };
    const Case cases[] = {
        {NOTIFY_DOWNLOAD_PROGRESS, 500, 1000, 1000, 4000, 0, 0, 0, "154 50%", "77 25%"},
        {NOTIFY_DOWNLOAD_PROGRESS, 1000, 1000, 0, 0, 0, 0, 0, "308 100%", "-"},
        {NOTIFY_DOWNLOAD_PROGRESS, 1500, 1000, 9, 4, 0, 0, 0, "308 100%", "308 100%"},
        {NOTIFY_DOWNLOAD_PROGRESS, 5, 0, 1, 3, 0, 0, 0, "-", "102 33%"},
        {NOTIFY_DOWNLOAD_END, kHuge / 2, kHuge, kHuge - 1, kHuge, 0, 0, 0, "154 50%", "307 99%"},
        {NOTIFY_EXTRACT_START, 0, 0, 0, 0, 0, 0, 0, "0 0%", "-"},
        {NOTIFY_EXTRACT_FILE, 0, 0, 0, 0, 3, 4, 0, "231 75%", "-"},
        {NOTIFY_APPLY_FILE, 0, 0, 0, 0, 9, 4, 0, "308 100%", "-"},
        {NOTIFY_APPLY_FILE, 0, 0, 0, 0, -3, 4, 0, "0 0%", "-"},
        {NOTIFY_APPLY_FILE, 0, 0, 0, 0, 3, -4, 0, "-", "-"},
        {NOTIFY_PERCENT, 0, 0, 0, 0, 0, 0, 50, "154 50%", "-"},
        {NOTIFY_PERCENT, 0, 0, 0, 0, 0, 0, 250, "308 100%", "-"},
        {NOTIFY_DOWNLOAD_START, 7, 9, 7, 9, 0, 0, 0, "0 0%", "0 0%"},
        {NOTIFY_UPDATE_COMPLETE, 0, 0, 0, 0, 1, 4, 0, "308 100%", "308 100%"},
    };
    for (const Case& c : cases) {
        UPDATE_CALLBACK_INFO info{};
        info.nFileReceived = c.fileReceived;
        info.nFileSize = c.fileSize;
        info.nTotalReceived = c.totalReceived;
        info.nTotalSize = c.totalSize;
        info.nFileIndex = c.index;
        info.nFileCount = c.count;
        info.nPercent = c.percent;
        const Presentation p = PresentNotification(c.code, info, {}, nullptr);
        EXPECT_EQ(Shown(p.fileBar) + " | " + Shown(p.totalBar),
                  std::string(c.file) + " | " + c.total)
            << "code " << c.code << " file " << c.fileReceived << "/" << c.fileSize;
    }
}

TEST(UpdatePresenterTest, TextsCarryFileBytesAndRecordTextsVerbatim) {
    UPDATE_CALLBACK_INFO info{};
    info.nFileReceived = 5000000000ull;
    info.nFileSize = 6000000000ull;
    info.nTotalSize = 9000000000ull;
    std::strcpy(info.szErrorMsg, "disk %s%n full");
    info.nErrorCode = 112;
    info.nCustomErrorCode = 1101;
    std::memset(info.szFileName, 'a', sizeof(info.szFileName));  // unterminated

    EXPECT_EQ(PresentNotification(NOTIFY_DOWNLOAD_PROGRESS, info, {}, nullptr).status,
              "Received: 5000000000 / 6000000000 Bytes");
    EXPECT_EQ(PresentNotification(NOTIFY_DOWNLOAD_START, info, {}, nullptr).status,
              "Downloading: " + std::string(sizeof(info.szFileName), 'a'));
    const Presentation failed = PresentNotification(NOTIFY_UPDATE_FAILED, info, {}, nullptr);
    EXPECT_EQ(failed.logLines,
              std::vector<std::string>{"Update failed(disk %s%n full ErrorCode 112 "
                                       "CustomErrorCode 1101)"});
    ASSERT_EQ(failed.steps.size(), 2u);
    EXPECT_EQ(failed.steps[0].text, "disk %s%n full");
}

TEST(UpdatePresenterTest, EndsOfTheUpdateAndCodesOutsideTheRange) {
    UPDATE_CALLBACK_INFO info{};
    // Complete with the terms unticked: the start button keeps its look
    // until the box is ticked.
    Presentation p = PresentNotification(NOTIFY_UPDATE_COMPLETE, info, {}, nullptr);
    EXPECT_EQ(std::tie(p.status, p.updateComplete, p.startBitmap),
              std::tuple(std::optional<std::string>("The game is up to date."),
                         std::optional<bool>(true), std::optional<int>()));
    EXPECT_EQ(TermsToggled(true, true).startBitmap, kStartBitmapEnabled);
    EXPECT_EQ(TermsToggled(false, true).checkBitmap, kTermsBitmapOff);
    EXPECT_EQ(TermsToggled(true, false).startBitmap, kStartBitmapDisabled);
    p = PresentNotification(NOTIFY_UPDATE_COMPLETE, info, {true, false}, nullptr);
    EXPECT_EQ(p.startBitmap, kStartBitmapEnabled);

    // A failure without a text still says so, and shuts down only after
    // the box; while closing there is no box at all.
    p = PresentNotification(NOTIFY_UPDATE_FAILED, info, {true, false}, nullptr);
    EXPECT_EQ(Actions(p),
              (std::vector{PresenterAction::ShowError, PresenterAction::StartShutdown}));
    EXPECT_EQ(p.steps[0].text, "Update failed");
    EXPECT_EQ(p.updateComplete, false);
    p = PresentNotification(NOTIFY_UPDATE_FAILED, info, {false, true}, nullptr);
    EXPECT_EQ(Actions(p), std::vector{PresenterAction::StartShutdown});

    p = PresentNotification(NOTIFY_FULL_VERSION_NEEDED, info, {}, nullptr);
    EXPECT_EQ(Actions(p),
              (std::vector{PresenterAction::ShowNotice, PresenterAction::OpenHomePage}));

    p = PresentNotification(NOTIFY_LAUNCHER_HANDOVER, info, {}, nullptr);
    EXPECT_EQ(Actions(p), std::vector{PresenterAction::CloseForHandOver});

    for (int32_t code : {18, -1, 1000}) {
        p = PresentNotification(code, info, {true, false}, nullptr);
        EXPECT_TRUE(!p.status && p.logLines.empty() && !p.fileBar && !p.totalBar &&
                    !p.startBitmap && !p.updateComplete && p.steps.empty())
            << code;
    }
}

TEST(LauncherRulesTest, StartButtonAndStartUpFailures) {
    EXPECT_EQ(DecideStart(false, true, nullptr).message, "Please agree to the terms of service.");
    EXPECT_EQ(DecideStart(true, false, nullptr).verdict, StartVerdict::WaitForUpdate);
    EXPECT_EQ(DecideStart(true, true, nullptr).verdict, StartVerdict::CheckAndStart);

    // Only a game that was handed over closes the launcher.
    EXPECT_TRUE(FinishStart(true, true, "", nullptr).gameStarted);
    StartResult r = FinishStart(false, false, "DirectX 7 is installed", nullptr);
    EXPECT_EQ(std::tie(r.gameStarted, r.errorText),
              std::tuple(false, std::string("DirectX 7 is installed")));
    EXPECT_EQ(FinishStart(true, false, "", nullptr).errorText,
              "The game could not be started (QuorimLauncher.exe).");

    // One box on a bad start: the failure notification's, or the reason.
    StartupFailure f = PlanStartupFailure(true, true, "already running", nullptr);
    EXPECT_EQ(std::tie(f.boxText, f.closeWindow), std::tuple(std::string(), false));
    f = PlanStartupFailure(true, false, "copy step not available", nullptr);
    EXPECT_EQ(std::tie(f.boxText, f.closeWindow),
              std::tuple(std::string("copy step not available"), true));
    f = PlanStartupFailure(false, false, "", nullptr);
    EXPECT_EQ(f.boxText, "The update program could not start.");
}

// The DirectX diagnostics box: where the check looked, what it found, and
// the start button's reason when it would refuse.
TEST(DirectXReportTest, SaysWhereItLookedAndWhyTheGameWouldNotStart) {
    const std::string sys = "/home/p/.wine/drive_c/windows/syswow64";
    const std::pair<DirectXFindings, std::string> cases[] = {
        {{true, "9.0c", "/home/p/.wine", sys}, "DirectX 9.0c was found in " + sys + "."},
        {{false, "9.0", "/home/p/.wine", sys},
         "DirectX 9.0 was found in " + sys +
             ".\n\nDirectX 9.0 is installed, but DirectX 9.0c is required."},
        {{false, "", "/home/p/.wine", sys},
         "No DirectX was found in " + sys +
             ".\n\nNo DirectX installation was found (DirectX 9.0c is required)."},
        {{true, "", "/games/50% off/wine", ""},
         "The Wine prefix /games/50% off/wine is not set up yet. Wine sets it up, with its own "
         "DirectX, when the game first starts."},
        {{false, "", "", ""}, "No DirectX installation was found (DirectX 9.0c is required)."},
    };
    for (const auto& [found, want] : cases)
        EXPECT_EQ(DirectXReport(found, "9.0c", nullptr), want);
}

TEST(LauncherRulesTest, CopyIsAnOptionWordNotPartOfAPathOrValue) {
    const std::pair<const char*, bool> cases[] = {
        {"/games/varn/varn-launcher -copy //games/varn", true},
        {"/games/varn/varn-launcher -getlast -copy //games/varn", true},
        {"/games/varn-copy/varn-launcher", false},
        {"\"/games/my -copy dir/varn-launcher\" -getlast", false},
        {"/games/varn/varn-launcher /games/-copy", false},
        {"/games/varn/varn-launcher -pass -copy", false},
        {"/games/varn/varn-launcher -checked /games/old -copy /x", false},
        {"-copy", false},
    };
    for (const auto& [line, copy] : cases)
        EXPECT_EQ(HasCopyOption(line), copy) << line;
    EXPECT_EQ(AfterCheckCommandLine(1, true), StartupNext::QuitAfterHandOff);
    EXPECT_EQ(AfterCheckCommandLine(0, true), StartupNext::Fail);
}

TEST(FirstRunTest, RegistersOnceAndNeverWithCopy) {
    TempDir dir;
    setenv("VARN_REGISTRY_DIR", (dir / "registry").c_str(), 1);
    const GameRegistration reg{"/games/varn", "/games/varn/varn-launcher.desktop"};
    const std::string desktop = dir / "Desktop";
    TempDir::WriteFile(desktop + "/Varn.url",
                       "[InternetShortcut]\r\nURL=http://WWW.varn-online.jp/index.asp\r\n");

    StartupHousekeeping done = DoStartupHousekeeping("/games/varn/varn-launcher -copy //games/varn",
                                                     reg, desktop, kDefaultHomePage);
    EXPECT_TRUE(done.copyHandOff && done.shortcutRemoved && !done.registered);
    EXPECT_FALSE(plat::RegistryKeyExists(kGameRegistryKey));

    done = DoStartupHousekeeping("/games/varn/varn-launcher", reg, desktop, kDefaultHomePage);
    EXPECT_TRUE(done.registered);
    std::string value;
    for (const auto& [name, expected] : {std::pair{"location", reg.location},
                                         {"shortcut", reg.shortcut},
                                         {"PostDLVersion", "0"},
                                         {"UseCleanTool", "TRUE"},
                                         {"Version", "2"}}) {
        ASSERT_TRUE(plat::RegistryReadString(kGameRegistryKey, name, value)) << name;
        EXPECT_EQ(value, expected);
    }
    // A second start, from another directory, leaves the key as it is.
    ASSERT_TRUE(plat::RegistryWriteString(kGameRegistryKey, "Version", "3"));
    EXPECT_FALSE(RegisterGame({"/elsewhere", ""}));
    ASSERT_TRUE(plat::RegistryReadString(kGameRegistryKey, "location", value));
    EXPECT_EQ(value, reg.location);
    ASSERT_TRUE(plat::RegistryReadString(kGameRegistryKey, "Version", value));
    EXPECT_EQ(value, "3");
    unsetenv("VARN_REGISTRY_DIR");
}

TEST(FirstRunTest, DesktopCleanUpDeletesOnlyTheOldShortcut) {
    TempDir dir;
    const std::string ours = "[InternetShortcut]\nURL=https://www.varn-online.jp/\n";
    const std::pair<std::string, bool> files[] = {
        {ours, true},
        {"[InternetShortcut]\nURL=https://www.varn-online.jp.evil.example/\n", false},
        {"[InternetShortcut]\nURL=file:///home/me/notes\n", false},
        {"my own notes about https://www.varn-online.jp/\n", false},
        {ours + std::string(5000, ';'), false},
    };
    for (const auto& [content, deleted] : files) {
        TempDir::WriteFile(dir / "Varn.url", content);
        EXPECT_EQ(RemoveOldDesktopShortcut(dir.path(), kDefaultHomePage), deleted) << content;
        EXPECT_EQ(plat::FileExists(dir / "Varn.url"), !deleted) << content;
    }
    // A link named like the shortcut, even to one of ours, is the user's.
    TempDir::WriteFile(dir / "target.url", ours);
    unlink((dir / "Varn.url").c_str());
    ASSERT_EQ(symlink((dir / "target.url").c_str(), (dir / "Varn.url").c_str()), 0);
    EXPECT_FALSE(RemoveOldDesktopShortcut(dir.path(), kDefaultHomePage));
    EXPECT_TRUE(plat::FileExists(dir / "target.url"));
}

TEST(VersionIniTest, DeploymentPagesMustBeWebAddresses) {
    TempDir dir;
    const std::string ini = dir / "version.ini";
    TempDir::WriteFile(ini,
                       "[PATH]\nPatchRoot=http://127.0.0.1:8080/patch\n"
                       "[URL]\nHomePage=https://test.example/varn/\nFAQ=file:///etc/passwd\n");
    const DeploymentUrls urls = ReadDeploymentUrls(ini);
    EXPECT_EQ(std::tie(urls.homePage, urls.faq),
              std::tie("https://test.example/varn/", kDefaultFaqPage));
    EXPECT_EQ(ReadPatchRoot(ini).port, 8080);
    TempDir::WriteFile(ini, "[URL]\nHomePage=https://a b/\n");
    EXPECT_EQ(ReadDeploymentUrls(ini).homePage, kDefaultHomePage);
}

TEST(ShutdownHandshakeTest, CloseWaitsForTheWorkerThenDeletesAndQuits) {
    CShutdownHandshake h;
    using A = ShutdownAction;
    EXPECT_EQ(Actions(h.RequestClose(true)),
              (std::vector{A::CallCloseThread, A::HideWindow, A::StartTimer}));
    EXPECT_TRUE(h.Closing());
    EXPECT_TRUE(h.RequestClose(true).empty());  // the window manager asks again
    for (int tick = 1; tick < CShutdownHandshake::kFinishingTicks; ++tick)
        EXPECT_EQ(Actions(h.OnTick(true, false)), std::vector{A::Log}) << tick;
    EXPECT_EQ(Actions(h.OnTick(true, false)), (std::vector{A::Log, A::ShowFinishing}));
    EXPECT_EQ(Actions(h.OnTick(true, true)),
              (std::vector{A::StopTimer, A::Log, A::DeleteModule, A::Quit}));
    EXPECT_TRUE(h.OnTick(true, true).empty());

    CShutdownHandshake gone;
    EXPECT_EQ(Actions(gone.RequestClose(false)), (std::vector{A::Log, A::Quit}));

    // After a failure the running timer serves a later close too.
    CShutdownHandshake failed;
    EXPECT_EQ(Actions(failed.StartAfterFailure()), std::vector{A::StartTimer});
    EXPECT_FALSE(failed.Closing());
    EXPECT_EQ(Actions(failed.RequestClose(true)), (std::vector{A::CallCloseThread, A::HideWindow}));
}

TEST(ShutdownHandshakeTest, NeverForcedDuringAPackCloseOnlyWhenTheWorkerIsSilent) {
    CShutdownHandshake h;
    h.StartAfterFailure();
    auto forced = [&h] {
        const std::vector<ShutdownAction> a = Actions(h.OnTick(true, false));
        return std::find(a.begin(), a.end(), ShutdownAction::ForceQuit) != a.end();
    };
    // A long pack close: the animation every two seconds, for ten minutes.
    for (int tick = 1; tick <= 6000; ++tick) {
        if (tick % 20 == 0)
            h.OnNotification(NOTIFY_PERCENT, (tick / 20) % 100 + 1);
        ASSERT_FALSE(forced()) << tick;
    }
    // A ticker that stopped mid-close is still a close: wait.
    for (int tick = 0; tick < 2 * CShutdownHandshake::kStuckTicks; ++tick)
        ASSERT_FALSE(forced());
    EXPECT_TRUE(h.PackClosing());
    // The close ended; the worker then goes silent.
    h.OnNotification(NOTIFY_PERCENT, 100);
    EXPECT_FALSE(h.PackClosing());
    for (int tick = 1; tick < CShutdownHandshake::kStuckTicks; ++tick)
        ASSERT_FALSE(forced()) << tick;
    EXPECT_TRUE(forced());
    EXPECT_EQ(h.GetPhase(), CShutdownHandshake::Phase::Ended);
}

TEST(NotificationQueueTest, RedrawsMergeWhileLogLinesAndEndsKeepTheirOrder) {
    CNotificationQueue q;
    UPDATE_CALLBACK_INFO info{};
    auto push = [&](int32_t code, uint64_t received) {
        info.nFileReceived = received;
        info.nPercent = received;
        return q.Push(code, &info);
    };
    EXPECT_TRUE(push(NOTIFY_DOWNLOAD_START, 0)) << "the first push wakes the window";
    EXPECT_FALSE(push(NOTIFY_DOWNLOAD_PROGRESS, 10)) << "later ones ride on that wake-up";
    push(NOTIFY_DOWNLOAD_PROGRESS, 20);
    push(NOTIFY_DOWNLOAD_END, 30);
    push(NOTIFY_DOWNLOAD_PROGRESS, 40);
    push(NOTIFY_PERCENT, 50);
    push(NOTIFY_PERCENT, 60);
    push(NOTIFY_FULL_VERSION_NEEDED, 70);
    EXPECT_FALSE(q.SawFailure());
    push(NOTIFY_UPDATE_FAILED, 80);
    push(NOTIFY_UPDATE_FAILED, 90);
    info.nFileReceived = 999;  // the worker rewrites its record: the queue has copies
    std::vector<std::pair<int32_t, uint64_t>> got;
    for (const CNotificationQueue::Item& item : q.TakeAll())
        got.push_back({item.code, item.info.nFileReceived});
    const std::vector<std::pair<int32_t, uint64_t>> want = {
        {NOTIFY_DOWNLOAD_START, 0}, {NOTIFY_DOWNLOAD_PROGRESS, 20},
        {NOTIFY_DOWNLOAD_END, 30},  {NOTIFY_DOWNLOAD_PROGRESS, 40},
        {NOTIFY_PERCENT, 60},       {NOTIFY_FULL_VERSION_NEEDED, 70},
        {NOTIFY_UPDATE_FAILED, 80}, {NOTIFY_UPDATE_FAILED, 90}};
    EXPECT_EQ(got, want);
    EXPECT_TRUE(q.SawFailure());
    EXPECT_TRUE(q.Push(NOTIFY_ERROR, nullptr)) << "taken: the next push wakes again";
    EXPECT_EQ(q.TakeAll().at(0).info.nFileReceived, 0u) << "no record: a zeroed one";
}

TEST(NotificationQueueTest, AWorkerThatNeverWaitsLosesNoLogLine) {
    CNotificationQueue q;
    constexpr int kLines = 20000;
    std::thread worker([&q] {
        UPDATE_CALLBACK_INFO info{};
        for (int i = 0; i < kLines; ++i) {
            info.nFileIndex = i;
            q.Push(NOTIFY_DOWNLOAD_PROGRESS, &info);
            q.Push(NOTIFY_EXTRACT_END, &info);
        }
        q.Push(NOTIFY_UPDATE_COMPLETE, &info);
    });
    int next = 0;
    bool complete = false;
    while (!complete) {
        for (const CNotificationQueue::Item& item : q.TakeAll()) {
            if (item.code == NOTIFY_EXTRACT_END) {
                EXPECT_EQ(item.info.nFileIndex, next);
                ++next;
            }
            complete = complete || item.code == NOTIFY_UPDATE_COMPLETE;
        }
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(next, kLines);
}

TEST(NoticePolicyTest, OnlyTheWebLoadsInTheViewAndNewWindowsGoToThePlayersBrowser) {
    const struct {
        const char* url;
        const char* origin;  // "" when none
    } origins[] = {
        {"HTTP://Notice.Example.JP:80/a?b#c", "http://notice.example.jp"},
        {"https://user:pw@example.jp:443/", "https://example.jp"},
        {"https://example.jp:8443", "https://example.jp:8443"},
        {"http://127.0.0.1:/x", "http://127.0.0.1"},
        {"http://[::1]:8080/", "http://[::1]:8080"},
        {"http://evil.example@notice.example.jp\\x", "http://notice.example.jp"},
        {"http://notice.example.jp:99999/", ""},
        {"http://notice.example.jp:8o/", ""},
        {"http:///path", ""},
        {"ftp://example.jp/", ""},
        {"file:///etc/passwd", ""},
        {"javascript:external.CB_Close()", ""},
        {"data:text/html,<p>x", ""},
    };
    for (const auto& c : origins) {
        EXPECT_EQ(WebOrigin(c.url).value_or(""), c.origin) << c.url;
        EXPECT_EQ(DecideNavigation(c.url) == NavigationVerdict::Allow, *c.origin != 0) << c.url;
    }
    EXPECT_TRUE(SameWebOrigin("http://A.jp/notice.html", "http://a.jp:80/other?x"));
    EXPECT_FALSE(SameWebOrigin("http://a.jp/", "https://a.jp/"));
    EXPECT_FALSE(SameWebOrigin("http://a.jp/", "http://a.jp:8080/"));
    EXPECT_FALSE(SameWebOrigin("http://127.0.0.1/", "http://localhost/"));
    EXPECT_FALSE(SameWebOrigin("about:blank", "about:blank")) << "no origin is no match";
    // Frames begin with empty documents.
    EXPECT_EQ(DecideNavigation("about:blank"), NavigationVerdict::Allow);
    EXPECT_EQ(DecideNavigation("about:srcdoc"), NavigationVerdict::Allow);
    EXPECT_EQ(DecideNavigation("about:config"), NavigationVerdict::Block);

    EXPECT_EQ(DecideNewWindow("https://example.jp/news", true), NewWindowVerdict::OpenInBrowser);
    EXPECT_EQ(DecideNewWindow("https://example.jp/news", false), NewWindowVerdict::Refuse)
        << "only when the player asked for it";
    EXPECT_EQ(DecideNewWindow("file:///home/player/", true), NewWindowVerdict::Refuse);
    EXPECT_EQ(DecideNewWindow("steam://run/1", true), NewWindowVerdict::Refuse);
}

TEST(NoticePolicyTest, FiveRetriesInAllAndOnlyFailuresOfThePageCount) {
    CNoticeRetries retries;
    // Cancellations and the view's own refusals use nothing, before or
    // after the retries are gone.
    EXPECT_EQ(retries.OnFailure(NoticeFailure::Cancelled), RetryDecision::Ignore);
    EXPECT_EQ(retries.OnFailure(NoticeFailure::Blocked), RetryDecision::Ignore);
    std::vector<RetryDecision> seen;
    for (int i = 0; i < 7; ++i) {
        seen.push_back(
            retries.OnFailure(i % 2 ? NoticeFailure::HttpStatus : NoticeFailure::Network));
        EXPECT_EQ(retries.OnFailure(NoticeFailure::Cancelled), RetryDecision::Ignore);
    }
    const std::vector<RetryDecision> want = {
        RetryDecision::Retry, RetryDecision::Retry,  RetryDecision::Retry, RetryDecision::Retry,
        RetryDecision::Retry, RetryDecision::GiveUp, RetryDecision::GiveUp};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(retries.Left(), 0);
    EXPECT_FALSE(IsHttpErrorStatus(200));
    EXPECT_FALSE(IsHttpErrorStatus(304));
    EXPECT_TRUE(IsHttpErrorStatus(404));
    EXPECT_TRUE(IsHttpErrorStatus(503));
}

TEST(NoticePolicyTest, KeyFilterSwallowsReloadOpenPrintAndNewWindowOnly) {
    const struct {
        NoticeKey key;
        bool blocked;
    } cases[] = {
        {{true, kVirtualKeyF5, false}, true}, {{false, kVirtualKeyF5, false}, false},
        {{true, kVirtualKeyF5, true}, true},  {{true, kVirtualKeyP, true}, true},
        {{true, kVirtualKeyO, true}, true},   {{true, kVirtualKeyN, true}, true},
        {{false, kVirtualKeyP, true}, false}, {{true, kVirtualKeyP, false}, false},
        {{true, 'R', true}, false},           {{true, 13, false}, false},
        {{true, 27, false}, false},           {{true, 13, true}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NoticeKeyBlocked(c.key), c.blocked)
            << c.key.down << " " << c.key.virtualKey << " " << c.key.control;
    EXPECT_EQ(PlanPageDialog(PageDialog::Confirm), PageDialogPlan::ShowOkCancel);
    EXPECT_EQ(PlanPageDialog(PageDialog::Prompt), PageDialogPlan::Refuse);
}

TEST(NoticeExternalTest, OnlyTheNoticePagesOwnScriptReachesTheFourNames) {
    const std::string secret = NewExternalSecret();
    EXPECT_EQ(secret.size(), 32u);
    EXPECT_NE(secret, NewExternalSecret());
    const std::string notice = "http://127.0.0.1:8080/notice.html";
    const std::string page = "http://127.0.0.1:8080/news/today.html";

    auto call = [&](const std::string& name, const std::string& from = "",
                    const std::string& withSecret = "") {
        ExternalCall c{withSecret.empty() ? secret : withSecret, name, "hello", 7.9};
        return DispatchExternal(c, secret, notice, from.empty() ? page : from);
    };
    EXPECT_EQ(call("CB_Close").verdict, ExternalVerdict::CloseLauncher);
    EXPECT_EQ(call("CB_Close").logLine, "External call [CB_Close]");
    EXPECT_EQ(call("CB_CustomFunction").verdict, ExternalVerdict::Done);
    EXPECT_EQ(call("CB_IsOurCustomBrowser").verdict, ExternalVerdict::Done);
    const ExternalOutcome params = call("CB_CustomFunctionWithParams");
    EXPECT_EQ(params.verdict, ExternalVerdict::Done);
    EXPECT_EQ(params.detail, "[parameter 1: hello] [parameter 2: 7]");

    // Names are exact; a linked site (even with a stolen secret) and a
    // frame that posts without the secret are refused.
    EXPECT_EQ(call("cb_close").verdict, ExternalVerdict::Refused);
    EXPECT_EQ(call("CB_Close ").verdict, ExternalVerdict::Refused);
    EXPECT_EQ(call("CB_Close", "http://localhost:8080/notice.html").verdict,
              ExternalVerdict::Refused);
    EXPECT_EQ(call("CB_Close", "https://127.0.0.1:8080/notice.html").verdict,
              ExternalVerdict::Refused);
    EXPECT_EQ(call("CB_Close", "", "0123456789abcdef0123456789abcdef").verdict,
              ExternalVerdict::Refused);
    EXPECT_EQ(DispatchExternal({"", "CB_Close", "", 0}, "", notice, page).verdict,
              ExternalVerdict::Refused)
        << "no secret is no secret";
    EXPECT_EQ(call("CB_Close\n[01-01-01 00:00:00] forged").logLine,
              "External call refused [CB_Close?[01-01-01 00:00:00] forged]")
        << "a page writes no lines of its own";
    EXPECT_EQ(ExternalDispatchId("CB_CustomFunctionWithParams"), 4);
    EXPECT_EQ(ExternalDispatchId("CB_isOurCustomBrowser"), -1);

    // The address goes into the script as a string literal it cannot end.
    const std::string script = ExternalObjectScript("http://a.jp/\"+alert(1)+\"\n\\", secret);
    EXPECT_NE(script.find(R"("http://a.jp/\"+alert(1)+\"\u000a\\")"), std::string::npos) << script;
    EXPECT_NE(script.find("window !== window.top"), std::string::npos);
    // The functions a page can print hold no secret.
    const size_t functions = script.find("external.CB_Close =");
    EXPECT_EQ(script.find(secret, functions), std::string::npos);
}
