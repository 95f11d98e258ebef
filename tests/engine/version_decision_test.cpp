// The update decision (CheckUpdateListVersion), the light check
// (CheckOnlyVersion), settings and the stop request, on real scrambled files.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/version_test_env.h"
#include "platform/Path.h"
#include "support/VersionFileWriter.h"
#include "transfer/FTPUpdater.h"
#include "transfer/HTTPUpdater.h"

namespace {

using varntest::CVersionFileWriter;
using varntest::FakeProtocol;
using varntest::TestFileUpdater;
using varntest::VersionTempDir;

struct Published {
    const char* update;  // update.uvf "update version": the target of a major update
    const char* latest;
    const char* minor;
    const char* primary;
    const char* end;
};

struct Local {
    const char* version;
    const char* minor;
};

CVersionFileWriter PublishedFile(const Published& p) {
    CVersionFileWriter w;
    w.updateName = "VarnJP";
    w.updateVersion = p.update;
    w.launcherVersion = "1.0.6.1";
    w.minorVersion = p.minor;
    w.latestVersion = p.latest;
    w.primaryVersion = p.primary;
    w.endVersion = p.end;
    return w;
}

CVersionFileWriter LocalFile(const Local& l) {
    CVersionFileWriter w;
    w.updateName = "VarnLocal";
    w.updateVersion = l.version;
    w.minorVersion = l.minor;
    w.latestVersion = "9.9.9.9";  // logged only: must not steer the decision
    w.endVersion = "9.9.9.9";
    return w;
}

class VersionDecisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine.SetUpdatePath(dir.path().c_str());
        // Logs are written relative to the current directory; keep them here.
        plat::SetCurrentDir(dir.path());
    }
    std::string UpdateFile(const char* name) const { return dir / ("Update/" + std::string(name)); }
    void Publish(const Published& p) {
        ASSERT_TRUE(PublishedFile(p).Write(UpdateFile("update.uvf")));
    }
    void Install(const Local& l) { ASSERT_TRUE(LocalFile(l).Write(UpdateFile("version.uvf"))); }

    VersionTempDir dir;
    TestFileUpdater engine;
};

struct DecisionCase {
    const char* what;
    Published published;
    std::optional<Local> local;  // nullopt: no version.uvf
    int getLast;
    const char* manual;  // "" = none
    int result;
    int kind;
    const char* target;
    const char* localAfter;
};

const Published kPub{"1.0.0.6", "1.0.0.5", "0.2", "1.0.0.4", "1.0.0.2"};

// clang-format off
const DecisionCase kDecisions[] = {
    {"same version and minor", kPub, Local{"1.0.0.5", "0.2"}, 0, "", 1, UPDATE_NONE, "1.0.0.6", "1.0.0.5"},
    {"minor lower", kPub, Local{"1.0.0.5", "0.1"}, 0, "", 0, UPDATE_MINOR_VERSION, "1.0.0.5", "1.0.0.5"},
    {"minor higher", kPub, Local{"1.0.0.5", "0.3"}, 0, "", 1, UPDATE_NONE, "1.0.0.6", "1.0.0.5"},
    {"minor unknown", {"1.0.0.6", "1.0.0.5", "unknown", "1.0.0.4", "1.0.0.2"}, Local{"1.0.0.5", "0.9"},
     0, "", 1, UPDATE_NONE, "1.0.0.6", "1.0.0.5"},
    {"local newer", kPub, Local{"1.0.0.10", "0.0"}, 0, "", 1, UPDATE_NONE, "1.0.0.6", "1.0.0.10"},
    {"major", kPub, Local{"1.0.0.3", "0.2"}, 0, "", 0, UPDATE_MAJOR_VERSION, "1.0.0.6", "1.0.0.3"},
    {"local equal to end is still major", kPub, Local{"1.0.0.2", "0.2"}, 0, "", 0, UPDATE_MAJOR_VERSION,
     "1.0.0.6", "1.0.0.2"},
    {"local older than end: full", kPub, Local{"1.0.0.1", "0.2"}, 0, "", 0, UPDATE_FULL_VERSION,
     "1.0.0.5", "1.0.0.1"},
    {"no version.uvf: full", kPub, std::nullopt, 0, "", 0, UPDATE_FULL_VERSION, "1.0.0.6", ""},
    {"get-last takes primary", kPub, Local{"1.0.0.1", "0.2"}, 1, "", 0, UPDATE_MAJOR_VERSION,
     "1.0.0.6", "1.0.0.4"},
    {"get-last takes end without primary", {"1.0.0.6", "1.0.0.5", "0.2", "", "1.0.0.2"},
     Local{"1.0.0.9", "0.2"}, 1, "", 0, UPDATE_MAJOR_VERSION, "1.0.0.6", "1.0.0.2"},
    {"get-last with neither keeps local", {"1.0.0.6", "1.0.0.5", "0.2", "", ""},
     Local{"1.0.0.3", "0.2"}, 1, "", 0, UPDATE_MAJOR_VERSION, "1.0.0.6", "1.0.0.3"},
    {"manual version replaces local", kPub, Local{"1.0.0.3", "0.2"}, 0, "1.0.0.5", 1, UPDATE_NONE,
     "1.0.0.6", "1.0.0.5"},
    {"get-last wins over manual", kPub, Local{"1.0.0.9", "0.2"}, 1, "1.0.0.9", 0, UPDATE_MAJOR_VERSION,
     "1.0.0.6", "1.0.0.4"},
};
// clang-format on

TEST_F(VersionDecisionTest, DecisionTable) {
    for (const DecisionCase& c : kDecisions) {
        SCOPED_TRACE(c.what);
        TestFileUpdater e;
        e.SetUpdatePath(dir.path().c_str());
        plat::SetCurrentDir(dir.path());
        Publish(c.published);
        std::remove(UpdateFile("version.uvf").c_str());
        if (c.local)
            Install(*c.local);
        e.SetGetLast(c.getLast);
        e.SetManualVersion(c.manual);

        EXPECT_EQ(e.CheckUpdateListVersion(), c.result);
        EXPECT_EQ(e.GetUpdateKind(), c.kind);
        EXPECT_STREQ(e.TargetVersion(), c.target);
        EXPECT_STREQ(e.LocalVersion(), c.localAfter);
        EXPECT_STREQ(e.LatestVersion(), c.published.latest);
        EXPECT_STREQ(e.NewLauncherVersion(), "1.0.6.1");
    }
}

TEST_F(VersionDecisionTest, KindSurvivesALaterUpToDateCheck) {
    Publish(kPub);
    Install({"1.0.0.3", "0.2"});
    ASSERT_EQ(engine.CheckUpdateListVersion(), 0);
    ASSERT_EQ(engine.GetUpdateKind(), UPDATE_MAJOR_VERSION);
    Install({"1.0.0.5", "0.2"});  // as if the chain had been applied
    EXPECT_EQ(engine.CheckUpdateListVersion(), 1);
    EXPECT_EQ(engine.GetUpdateKind(), UPDATE_MAJOR_VERSION);
}

TEST_F(VersionDecisionTest, UnreadableUpdateFileStartsNoPatch) {
    Install({"1.0.0.1", "0.2"});
    EXPECT_EQ(engine.CheckUpdateListVersion(), 1);  // missing
    ASSERT_TRUE(CVersionFileWriter::WriteScrambled(UpdateFile("update.uvf"), "short"));
    EXPECT_EQ(engine.CheckUpdateListVersion(), 1);  // truncated
    EXPECT_EQ(engine.GetUpdateKind(), UPDATE_NONE);
}

// --- CheckOnlyVersion ---

struct OnlyCase {
    const char* what;
    int connect;
    int download;      // result of the fake download
    bool writeUpdate;  // the download leaves a valid update.uvf
    std::optional<Local> local;
    const char* minor;  // published minor version
    int result;
};

TEST_F(VersionDecisionTest, CheckOnlyVersionResults) {
    const OnlyCase cases[] = {
        {"no connection", 0, 1, true, Local{"1.0.0.5", "0.2"}, "0.2", 3},
        {"download fails", 1, 0, true, Local{"1.0.0.5", "0.2"}, "0.2", 4},
        {"update.uvf unreadable", 1, 1, false, Local{"1.0.0.5", "0.2"}, "0.2", 2},
        {"version.uvf missing", 1, 1, true, std::nullopt, "0.2", 2},
        {"up to date", 1, 1, true, Local{"1.0.0.5", "0.2"}, "0.2", 1},
        {"minor unknown", 1, 1, true, Local{"1.0.0.5", "0.1"}, "unknown", 1},
        {"minor lower", 1, 1, true, Local{"1.0.0.5", "0.1"}, "0.2", 0},
        {"minor higher", 1, 1, true, Local{"1.0.0.5", "0.3"}, "0.2", 1},
        {"local newer", 1, 1, true, Local{"1.0.0.6", "0.0"}, "0.2", 1},
        {"update needed", 1, 1, true, Local{"1.0.0.1", "0.2"}, "0.2", 0},
    };
    for (const OnlyCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir / "Update");
        engine.SetUpdatePath(dir.path().c_str());
        if (c.local)
            Install(*c.local);
        FakeProtocol* fake = engine.InstallFake();
        fake->connectResult = c.connect;
        plat::EventHandle seen;
        fake->onDownload = [&](const char*, const char* localPath) {
            seen = fake->GetStopEvent();
            Published p = kPub;
            p.minor = c.minor;
            if (c.writeUpdate)
                PublishedFile(p).Write(localPath);
            else
                CVersionFileWriter::WriteScrambled(localPath, "garbage");
            return c.download;
        };
        EXPECT_EQ(engine.CheckOnlyVersion(), c.result);
        EXPECT_EQ(engine.GetUpdateKind(), UPDATE_NONE);
        if (c.connect) {
            EXPECT_EQ(fake->lastRemote, "update.uvf");
            // The download ran with a live stop event, removed and signalled after.
            ASSERT_TRUE(seen);
            EXPECT_NE(plat::WaitForSingleObject(seen, 0), plat::WAIT_TIMEOUT_CODE);
            EXPECT_FALSE(fake->GetStopEvent());
        }
    }
}

TEST_F(VersionDecisionTest, CheckOnlyVersionWithoutTransferIsNoConnection) {
    EXPECT_EQ(engine.CheckOnlyVersion(), 3);
}

// --- settings and stop request ---

TEST_F(VersionDecisionTest, StopRequestSignalsOnce) {
    EXPECT_EQ(engine.StopRequest(), 1);  // no transfer object at all
    FakeProtocol* fake = engine.InstallFake();
    EXPECT_EQ(engine.StopRequest(), 1);
    plat::EventHandle ev = engine.InstallStopEvent();
    plat::EventHandle waiterCopy = ev;
    EXPECT_EQ(plat::WaitForSingleObject(waiterCopy, 0), plat::WAIT_TIMEOUT_CODE);
    EXPECT_EQ(engine.StopRequest(), 0);
    EXPECT_NE(plat::WaitForSingleObject(waiterCopy, 0), plat::WAIT_TIMEOUT_CODE);
    EXPECT_FALSE(fake->GetStopEvent());
    EXPECT_EQ(engine.StopRequest(), 1);
}

TEST_F(VersionDecisionTest, ConcurrentStopRequestNeverLosesAnEvent) {
    // The window thread may stop while the worker swaps events: every event
    // the worker installed must end up signalled, or a later stop is lost.
    engine.InstallFake()->yieldAfterGet = true;
    std::atomic<bool> done{false};
    std::thread window([&] {
        while (!done)
            engine.StopRequest();
    });
    std::vector<plat::EventHandle> installed;
    for (int i = 0; i < 2000; ++i)
        installed.push_back(engine.InstallStopEvent());
    done = true;
    window.join();
    engine.StopRequest();
    for (const plat::EventHandle& ev : installed)
        ASSERT_NE(plat::WaitForSingleObject(ev, 0), plat::WAIT_TIMEOUT_CODE);
}

TEST_F(VersionDecisionTest, InstallingReplacesAndStopsTheOldEvent) {
    engine.InstallFake();
    plat::EventHandle first = engine.InstallStopEvent();
    plat::EventHandle second = engine.InstallStopEvent();
    EXPECT_NE(plat::WaitForSingleObject(first, 0), plat::WAIT_TIMEOUT_CODE);
    EXPECT_EQ(plat::WaitForSingleObject(second, 0), plat::WAIT_TIMEOUT_CODE);
}

TEST_F(VersionDecisionTest, SettingsKeepValuesTheFileDoesNotSet) {
    FakeProtocol* fake = engine.InstallFake();
    const std::string ini = dir / "type.ini";
    auto write = [&](const char* text) { std::ofstream(ini) << text; };

    write("[SETUP]\nTYPE=t\nADDRESS=10.0.0.1\nPORT=2121\nUSER=u\nPASS=p\nSERVICEFTP=/s\n");
    EXPECT_EQ(engine.LoadSettings(ini.c_str()), 1);
    EXPECT_EQ(fake->lastLauncherType, unsigned(LAUNCHER_TYPE_TEST));
    EXPECT_STREQ(engine.m_szServerAddress, "10.0.0.1");
    EXPECT_EQ(engine.m_nServerPort, 2121);

    write("[SETUP]\nTYPE=x\nADDRESS=\nPORT=0\n");
    fake->setLauncherTypeCalls = 0;
    engine.LoadSettings(ini.c_str());
    EXPECT_EQ(fake->setLauncherTypeCalls, 0);  // unknown type: path unchanged
    EXPECT_STREQ(engine.m_szServerAddress, "10.0.0.1");
    EXPECT_EQ(engine.m_nServerPort, 2121);
    EXPECT_STREQ(engine.m_szServerUser, "u");
    EXPECT_STREQ(engine.m_szServerPass, "p");
    EXPECT_STREQ(engine.m_szServiceFtp, "/s");

    write("[SETUP]\n");  // TYPE defaults to the service
    engine.LoadSettings(ini.c_str());
    EXPECT_EQ(fake->lastLauncherType, unsigned(LAUNCHER_TYPE_SERVICE));
}

TEST_F(VersionDecisionTest, ConnectInfoPicksTheProtocolAndReplacesTheOldObject) {
    engine.SetConnectInfo("127.0.0.1", 80, "", "", "/svc", "/test", LAUNCHER_TYPE_SERVICE, 0);
    CProtocolUpdater* http = engine.GetProtocol();
    EXPECT_NE(dynamic_cast<CHTTPUpdater*>(http), nullptr);
    engine.SetConnectInfo("127.0.0.1", 21, "u", "p", "/svc", "/test", LAUNCHER_TYPE_TEST, 1);
    EXPECT_NE(dynamic_cast<CFTPUpdater*>(engine.GetProtocol()), nullptr);
    EXPECT_EQ(engine.StopRequest(), 1);  // a new object has no stop event yet
}

TEST_F(VersionDecisionTest, ManualArchiveMovesTheUpdateDirectory) {
    const std::string game = dir / "game";
    std::filesystem::create_directory(game);
    EXPECT_FALSE(engine.IsManualMode());
    engine.SetUpdateManualVersion(game.c_str(), "1.0.0.1_to_1.0.0.2", std::string(60, 'H').c_str(),
                                  3, 10.0, 20.0);
    EXPECT_TRUE(engine.IsManualMode());
    EXPECT_EQ(std::string(engine.m_szUpdatePath), game + "/Update");
    EXPECT_TRUE(std::filesystem::is_directory(game + "/Update"));
    EXPECT_EQ(std::string(engine.m_szManualHash), std::string(40, 'H'));
    EXPECT_STREQ(engine.m_szManualArchive, "1.0.0.1_to_1.0.0.2");
}

}  // namespace
