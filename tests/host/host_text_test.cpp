// varn-patch's pure parts: the PatchRoot reading, its own options among the
// launcher's, the exit codes and their explanations, the choice of language
// bundle, and the hand-over of progress from the worker.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "host/ExitCode.h"
#include "host/HostArgs.h"
#include "host/LanguageBundle.h"
#include "host/PatchRoot.h"
#include "host/ProgressState.h"
#include "host/TransferSettings.h"
#include "support/TempDir.h"

TEST(PatchRootTest, ReadsLikeTheLauncherWindowAndHonoursAPort) {
    const std::tuple<const char*, std::string, int, std::string, int> cases[] = {
        {"patch", "", 21, "patch", 1},
        {"ftp://a", "", 21, "ftp://a", 1},  // 7 characters: only a path
        {"http://127.0.0.1:8080/patch", "127.0.0.1", 8080, "patch", 0},
        {"ftp://files.example:2121/kor/varn", "files.example", 2121, "kor/varn", 1},
        {"http://[::1]:8080/p", "[::1]", 8080, "p", 0},
        {"http://h:99999/p", "h:99999", 80, "p", 0},
        {"http://fe80::1/p", "fe80::1", 80, "p", 0},
        {"https://files.example/varn", "files.example", 443, "varn", 0},
        {"https://files.example:8443/", "files.example", 8443, "", 0},
    };
    for (const auto& [value, host, port, path, ftp] : cases) {
        const PatchRoot r = ParsePatchRoot(value);
        EXPECT_EQ(std::tie(r.host, r.port, r.path, r.useFtp), std::tie(host, port, path, ftp))
            << value;
        EXPECT_EQ(r.tls, std::string(value).starts_with("https://")) << value;
    }
}

// Rates as settings and --max-rate take them: digits with K or M; anything
// else (and an overflowing value) is no rate and leaves the result alone.
TEST(TransferSettingsTest, RatesParseStrictlyAndMirrorsSkipHostlessRoots) {
    uint64_t rate = 7;
    const std::pair<const char*, uint64_t> good[] = {
        {"1048576", 1048576}, {"512K", 524288}, {" 2m ", 2097152}, {"0", 0}};
    for (const auto& [text, value] : good)
        EXPECT_TRUE(ParseRate(text, &rate) && rate == value) << text;
    for (const char* bad : {"", "K", "1.5M", "-1", "10G", "99999999999999999M", "1 M"}) {
        rate = 7;
        EXPECT_FALSE(ParseRate(bad, &rate) || rate != 7) << bad;
    }
    varntest::TempDir dir;
    const std::string ini = dir / "version.ini";
    varntest::TempDir::WriteFile(ini,
                                 "[PATH]\nPatchRoot=http://a/p\nPatchRoot1=patch\n"
                                 "PatchRoot2=ftp://b:2121/q\nPatchRoot9=https://c/r\n"
                                 "CAFile=ca.pem\nMaxDownloadRate=1M\n");
    varntest::TempDir::WriteFile(dir / "config.ini", "[COMMON]\nMaxDownloadRate=256K\n");
    const TransferSettings s = ReadTransferSettings(ini, dir / "config.ini", dir.path());
    ASSERT_EQ(s.mirrors.size(), 2u);
    EXPECT_TRUE(s.mirrors[0].host == "b" && s.mirrors[0].port == 2121 && s.mirrors[0].useFtp);
    EXPECT_TRUE(s.mirrors[1].host == "c" && s.mirrors[1].tls);
    EXPECT_EQ(s.caFile, dir / "ca.pem");
    EXPECT_EQ(s.maxRate, 262144u);  // the player's config.ini wins
    EXPECT_EQ(s.proxy, "");
    EXPECT_EQ(StatusWithRateCap("Downloading", 1536 * 1024), "Downloading (max 1.5 MiB/s)");
    EXPECT_EQ(StatusWithRateCap("Downloading", 0), "Downloading");
    EXPECT_EQ(StatusWithRateCap("", 1024), "");
    EXPECT_EQ(ReadOwnOptions({"--max-rate=1K"}).maxRate, 1024u);
    EXPECT_EQ(ReadOwnOptions({"--max-rate=x"}).unknown, "--max-rate=x");
}

TEST(HostArgsTest, OwnOptionsAreReadAroundTheLauncherOptionValues) {
    using Args = std::vector<std::string>;
    const std::tuple<Args, bool, std::string> cases[] = {
        {{"-savelog", "-ip", "h"}, false, ""},
        {{"--bogus", "-ip", "h"}, false, "--bogus"},
        {{"-getlast", "--", "--help"}, false, "--"},
        {{"-h"}, true, ""},
        {{"-pass", "--help", "-user", "--x--"}, false, ""},          // values, not options
        {{"-checked", "/g/Update/LAUNCHER", "--bogus"}, false, ""},  // the rest is the value
        {{"-unknown", "--help", "--bogus"}, true, ""},
    };
    for (const auto& [args, help, unknown] : cases) {
        const OwnOptions own = ReadOwnOptions(args);
        EXPECT_EQ(std::tie(own.help, own.unknown), std::tie(help, unknown)) << args.front();
    }
}

TEST(HostArgsTest, ServerNameFollowsTheLauncherOverrides) {
    using Words = std::vector<std::string>;
    const PatchRoot http = ParsePatchRoot("http://files.example:8080/patch");
    const std::tuple<PatchRoot, Words, std::string> cases[] = {
        {http, {}, "files.example:8080"},
        {http, {"-ip", "10.0.0.1", "-savelog", "-port", "81"}, "10.0.0.1:81"},
        {http, {"-port", "0"}, "files.example:80"},
        {http, {"-checked", "/g", "-ip", "x"}, "files.example:8080"},
        {http, {"-ip"}, "files.example:8080"},  // a missing value ends the options
        {http, {"-ip", "fe80::1"}, "[fe80::1]:8080"},
        {ParsePatchRoot("patch"), {}, ""},
        {ParsePatchRoot("patch"), {"-ip", "h"}, "h:21"},
    };
    for (const auto& [root, words, name] : cases)
        EXPECT_EQ(PatchServerName(root, words), name) << name;
}

TEST(ExitCodeTest, OutcomesMapToDocumentedCodes) {
    const std::pair<RunOutcome, int> cases[] = {
        {{true, false, false, false, 0}, PATCH_EXIT_OK},
        {{false, false, false, false, 0}, PATCH_EXIT_NOT_STARTED},
        {{false, true, false, false, CUSTOM_ERROR_CONNECT}, PATCH_EXIT_CONNECT_FAILED},
        {{false, true, true, false, 0}, PATCH_EXIT_FULL_VERSION},
        {{false, true, false, false, CUSTOM_ERROR_ARCHIVE_CHECK}, PATCH_EXIT_FAILED},
        {{true, false, false, true, 0}, PATCH_EXIT_INTERRUPTED},
    };
    for (const auto& [outcome, code] : cases)
        EXPECT_EQ(ExitCodeFor(outcome), code) << code;
}

// Every non-zero exit explains itself, naming the server or file concerned
// where nothing was recorded.
TEST(ExitCodeTest, FailureTextsNeverComeEmpty) {
    const std::string g = "/games/varn";
    const std::tuple<FailureFacts, std::vector<std::string>> cases[] = {
        {{PATCH_EXIT_FAILED, "The update file is damaged.\n", "h:80", g},
         {"The update file is damaged."}},
        {{PATCH_EXIT_CONNECT_FAILED, "Could not connect.", "h:80", g},
         {"Could not connect. (the patch server h:80)"}},
        {{PATCH_EXIT_CONNECT_FAILED, "", "h:80", g}, {"h:80", g + "/version.ini"}},
        {{PATCH_EXIT_FULL_VERSION, "", "h:80", g}, {g + "/Update/version.uvf", "h:80", "install"}},
        {{PATCH_EXIT_FAILED, " \n", "", g}, {"no patch server", g + "/version.ini", "-ip"}},
        {{PATCH_EXIT_FAILED, "", "h:80", g}, {"h:80", g + "/Log"}},
        {{PATCH_EXIT_NOT_STARTED, "", "h:80", g}, {"did not start", g}},
        {{PATCH_EXIT_INTERRUPTED, "", "h:80", g}, {"stopped before the update completed"}},
    };
    for (const auto& [facts, parts] : cases) {
        const std::string text = FailureText(facts);
        for (const std::string& part : parts)
            EXPECT_NE(text.find(part), std::string::npos) << facts.exitCode << ": " << text;
        EXPECT_EQ(text.find("no detail"), std::string::npos) << text;
    }
    EXPECT_EQ(FailureText({PATCH_EXIT_OK, "", "", g}), "");
}

TEST(BundleChoiceTest, LocalePicksAnInstalledBundle) {
    varntest::TempDir dir;
    for (const char* name : {"Resource_Jpn.ini", "Resource_Eng.ini"})
        varntest::TempDir::WriteFile(dir / name, "[Strings]\n");
    const std::tuple<LocaleEnvironment, const char*> cases[] = {
        {{"", "", ""}, "Jpn"},
        {{"", "", "en_US.UTF-8"}, "Eng"},
        {{"", "", "EN"}, "Eng"},
        {{"", "", "en@quot"}, "Eng"},
        {{"ja_JP.UTF-8", "en_US", "en_US"}, "Jpn"},  // LC_ALL first
        {{"", "en_GB", "ja_JP"}, "Eng"},             // then LC_MESSAGES
        {{"C", "", "en_US.UTF-8"}, "Jpn"},           // "C" decides, for the default
        {{"", "", "C.UTF-8"}, "Jpn"},
        {{"", "", "POSIX"}, "Jpn"},
        {{"", "", "ko_KR.UTF-8"}, "Jpn"},  // no Korean bundle installed
        {{"", "", "../en"}, "Jpn"},
    };
    for (const auto& [env, language] : cases)
        EXPECT_EQ(ChooseBundleFile(env, dir.path()),
                  dir / (std::string("Resource_") + language + ".ini"))
            << env.lcAll << "|" << env.lcMessages << "|" << env.lang;
}

TEST(ProgressStateTest, WorkerReportsReachTheMainThread) {
    CProgressState state;
    std::thread worker([&state] {
        UPDATE_CALLBACK_INFO info{};
        std::strcpy(info.szFileName, "a.lbc");
        info.nFileSize = 1000;
        state.OnNotify(NOTIFY_DOWNLOAD_START, info);
        for (info.nFileReceived = 1; info.nFileReceived <= 1000; ++info.nFileReceived)
            state.OnNotify(NOTIFY_DOWNLOAD_PROGRESS, info);
        info.nFileReceived = 1000;
        info.nCustomErrorCode = CUSTOM_ERROR_ARCHIVE_CHECK;
        std::strcpy(info.szErrorMsg, "bad archive");
        state.OnNotify(NOTIFY_ERROR, info);
        state.OnNotify(NOTIFY_UPDATE_FAILED, info);
    });
    for (uint64_t seen = 0; !state.Finished();) {
        const uint64_t now = state.Snapshot().fileReceived;
        EXPECT_GE(now, seen);  // never goes back
        seen = now;
    }
    worker.join();
    state.MarkInterrupted();  // too late: the run had already ended
    const RunOutcome o = state.Outcome();
    EXPECT_EQ(std::tuple(o.failed, o.interrupted, o.lastCustomErrorCode),
              std::tuple(true, false, int(CUSTOM_ERROR_ARCHIVE_CHECK)));
    EXPECT_EQ(state.LastError(), "bad archive");
    EXPECT_EQ(state.Snapshot().fileReceived, 1000u);
    const std::vector<std::string> lines = state.TakeLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "download a.lbc (1000 B)");
    EXPECT_TRUE(state.TakeLines().empty());
}
