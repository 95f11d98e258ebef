// The update decision, the light check, settings and the stop request.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/FileUpdater.h"
#include "support/StubProtocol.h"
#include "support/TempDir.h"
#include "support/VersionFileWriter.h"

namespace {

using varntest::TempDir;

class FakeProtocol : public varntest::StubProtocol {
public:
    int connectResult = 1;
    std::function<int(const char* local)> onDownload;  // returns the download's result
    std::string lastRemote;
    plat::EventHandle stopDuringDownload;
    unsigned launcherType = 0;  // the last one set
    bool yieldAfterGet = false;

    int ConnectTo(const char*, int, const char*, const char*) override { return connectResult; }
    void SetLauncherType(unsigned int type) override { launcherType = type; }
    int DownloadFile(const char* remote, const char* local) override {
        lastRemote = remote;
        stopDuringDownload = GetStopEvent();
        return onDownload(local);
    }
    plat::EventHandle GetStopEvent() override {
        plat::EventHandle ev = StubProtocol::GetStopEvent();
        // Widens the window an unguarded caller would race in.
        if (yieldAfterGet)
            std::this_thread::yield();
        return ev;
    }
};

class TestEngine : public CFileUpdater {
public:
    FakeProtocol* InstallFake() {
        m_pProtocol = std::make_unique<FakeProtocol>();
        return static_cast<FakeProtocol*>(m_pProtocol.get());
    }
    using CFileUpdater::InstallStopEvent;
};

bool Signalled(const plat::EventHandle& ev) {
    return plat::WaitForSingleObject(ev, 0) != plat::WAIT_TIMEOUT_CODE;
}

struct Versions {
    const char *version, *latest, *minor, *primary, *end;
};

constexpr Versions Local(const char* version, const char* minor) {
    return {version, "9.9.9.9", minor, "", "9.9.9.9"};
}
constexpr Versions kNone{nullptr, "", "", "", ""};
constexpr Versions kPub{"1.0.0.6", "1.0.0.5", "0.2", "1.0.0.4", "1.0.0.2"};

void Put(const std::string& path, const Versions& v) {
    std::remove(path.c_str());
    if (!v.version)
        return;
    varntest::CVersionFileWriter w;
    w.launcherVersion = "1.0.6.1";
    w.updateVersion = v.version;
    w.latestVersion = v.latest;
    w.minorVersion = v.minor;
    w.primaryVersion = v.primary;
    w.endVersion = v.end;
    ASSERT_TRUE(w.Write(path));
}

class VersionDecisionTest : public ::testing::Test {
protected:
    void SetUp() override { engine.SetUpdatePath(dir.path().c_str()); }

    TempDir dir{TempDir::Options{.enter = true}};
    const std::string published = dir / "Update/update.uvf";
    const std::string installed = dir / "Update/version.uvf";
    TestEngine engine;
};

TEST_F(VersionDecisionTest, DecisionTable) {
    const struct {
        const char* what;
        Versions published, installed;
        int getLast;
        const char* manual;
        int result, kind;
        const char *target, *localAfter;
        int onlyResult;  // CheckOnlyVersion on the same files; -1: not asked
    } cases[] = {
        // clang-format off
        {"same version and minor", kPub, Local("1.0.0.5", "0.2"), 0, "", 1, UPDATE_NONE, "1.0.0.6",
         "1.0.0.5", 1},
        {"minor lower", kPub, Local("1.0.0.5", "0.1"), 0, "", 0, UPDATE_MINOR_VERSION, "1.0.0.5",
         "1.0.0.5", 0},
        {"minor unknown", {"1.0.0.6", "1.0.0.5", "unknown", "1.0.0.4", "1.0.0.2"},
         Local("1.0.0.5", "0.1"), 0, "", 1, UPDATE_NONE, "1.0.0.6", "1.0.0.5", 1},
        {"local newer", kPub, Local("1.0.0.10", "0.0"), 0, "", 1, UPDATE_NONE, "1.0.0.6",
         "1.0.0.10", 1},
        {"major", kPub, Local("1.0.0.3", "0.2"), 0, "", 0, UPDATE_MAJOR_VERSION, "1.0.0.6",
         "1.0.0.3", 0},
        {"local equal to end is still major", kPub, Local("1.0.0.2", "0.2"), 0, "", 0,
         UPDATE_MAJOR_VERSION, "1.0.0.6", "1.0.0.2", 0},
        {"local older than end: full", kPub, Local("1.0.0.1", "0.2"), 0, "", 0, UPDATE_FULL_VERSION,
         "1.0.0.5", "1.0.0.1", 0},
        {"no version.uvf: full", kPub, kNone, 0, "", 0, UPDATE_FULL_VERSION, "1.0.0.6", "", 2},
        {"no update.uvf", kNone, Local("1.0.0.1", "0.2"), 0, "", 1, UPDATE_NONE, "", "", -1},
        {"get-last takes primary", kPub, Local("1.0.0.1", "0.2"), 1, "", 0, UPDATE_MAJOR_VERSION,
         "1.0.0.6", "1.0.0.4", -1},
        {"get-last takes end without primary", {"1.0.0.6", "1.0.0.5", "0.2", "", "1.0.0.2"},
         Local("1.0.0.9", "0.2"), 1, "", 0, UPDATE_MAJOR_VERSION, "1.0.0.6", "1.0.0.2", -1},
        {"get-last with neither keeps local", {"1.0.0.6", "1.0.0.5", "0.2", "", ""},
         Local("1.0.0.3", "0.2"), 1, "", 0, UPDATE_MAJOR_VERSION, "1.0.0.6", "1.0.0.3", -1},
        {"manual version replaces local", kPub, Local("1.0.0.3", "0.2"), 0, "1.0.0.5", 1,
         UPDATE_NONE, "1.0.0.6", "1.0.0.5", -1},
        {"get-last wins over manual", kPub, Local("1.0.0.9", "0.2"), 1, "1.0.0.9", 0,
         UPDATE_MAJOR_VERSION, "1.0.0.6", "1.0.0.4", -1},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Put(published, c.published);
        Put(installed, c.installed);
        TestEngine e;
        e.SetUpdatePath(dir.path().c_str());
        e.SetGetLast(c.getLast);
        e.SetManualVersion(c.manual);
        EXPECT_EQ(e.CheckUpdateListVersion(), c.result);
        EXPECT_EQ(e.GetUpdateKind(), c.kind);
        EXPECT_STREQ(e.TargetVersion(), c.target);
        EXPECT_STREQ(e.LocalVersion(), c.localAfter);
        EXPECT_STREQ(e.LatestVersion(), c.published.latest);
        EXPECT_STREQ(e.NewLauncherVersion(), c.published.version ? "1.0.6.1" : "");

        if (c.onlyResult >= 0) {
            TestEngine light;
            light.SetUpdatePath(dir.path().c_str());
            light.InstallFake()->onDownload = [](const char*) { return 1; };
            EXPECT_EQ(light.CheckOnlyVersion(), c.onlyResult);
            EXPECT_EQ(light.GetUpdateKind(), UPDATE_NONE);
        }

        e.SetGetLast(0);
        e.SetManualVersionFlag(0);
        Put(installed, Local(c.published.latest, c.published.minor));
        EXPECT_EQ(e.CheckUpdateListVersion(), 1);
        EXPECT_EQ(e.GetUpdateKind(), c.kind);
    }
}

TEST_F(VersionDecisionTest, CheckOnlyVersionFailuresAndItsStopEvent) {
    EXPECT_EQ(engine.CheckOnlyVersion(), 3);  // no transfer object: no connection
    Put(installed, Local("1.0.0.1", "0.2"));
    const struct {
        const char* what;
        int connect, download;
        bool garbage;  // the download leaves an unreadable update.uvf
        int result;
    } cases[] = {
        {"no connection", 0, 1, false, 3},
        {"download fails", 1, 0, false, 4},
        {"update.uvf unreadable", 1, 1, true, 2},
        {"update needed", 1, 1, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeProtocol* fake = engine.InstallFake();
        fake->connectResult = c.connect;
        fake->onDownload = [&](const char* path) {
            if (c.garbage)
                TempDir::WriteFile(path, "garbage");
            else
                Put(path, kPub);
            return c.download;
        };
        EXPECT_EQ(engine.CheckOnlyVersion(), c.result);
        if (c.connect) {
            EXPECT_EQ(fake->lastRemote, "update.uvf");
            ASSERT_TRUE(fake->stopDuringDownload);
            EXPECT_TRUE(Signalled(fake->stopDuringDownload));
            EXPECT_FALSE(fake->GetStopEvent());
        }
    }
}

TEST_F(VersionDecisionTest, StopRequestSignalsEveryInstalledEventOnce) {
    EXPECT_EQ(engine.StopRequest(), 1);  // no transfer object at all
    FakeProtocol* fake = engine.InstallFake();
    EXPECT_EQ(engine.StopRequest(), 1);  // nothing to stop
    // The window thread may stop while the worker swaps events: every event
    // the worker installed must end up signalled, or a later stop is lost.
    fake->yieldAfterGet = true;
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
    installed.push_back(engine.InstallStopEvent());
    EXPECT_FALSE(Signalled(installed.back()));
    EXPECT_EQ(engine.StopRequest(), 0);
    EXPECT_FALSE(fake->GetStopEvent());
    EXPECT_EQ(engine.StopRequest(), 1);
    for (const plat::EventHandle& ev : installed)
        ASSERT_TRUE(Signalled(ev));
}

TEST_F(VersionDecisionTest, SettingsKeepValuesTheFileDoesNotSet) {
    FakeProtocol* fake = engine.InstallFake();
    const std::string ini = dir / "type.ini";
    TempDir::WriteFile(ini, "[SETUP]\nTYPE=t\nADDRESS=10.0.0.1\nPORT=2121\nUSER=u\nPASS=p\n");
    EXPECT_EQ(engine.LoadSettings(ini.c_str()), 1);
    EXPECT_EQ(fake->launcherType, unsigned(LAUNCHER_TYPE_TEST));

    TempDir::WriteFile(ini, "[SETUP]\nTYPE=x\nADDRESS=\nPORT=0\n");
    engine.LoadSettings(ini.c_str());
    EXPECT_EQ(fake->launcherType, unsigned(LAUNCHER_TYPE_TEST));  // unknown: unchanged
    EXPECT_STREQ(engine.m_szServerAddress, "10.0.0.1");
    EXPECT_EQ(engine.m_nServerPort, 2121);
    EXPECT_STREQ(engine.m_szServerUser, "u");
    EXPECT_STREQ(engine.m_szServerPass, "p");

    TempDir::WriteFile(ini, "[SETUP]\n");  // TYPE defaults to the service
    engine.LoadSettings(ini.c_str());
    EXPECT_EQ(fake->launcherType, unsigned(LAUNCHER_TYPE_SERVICE));
}

}  // namespace
