// The facade: worker life cycle, connection settings and the version getters.
#include <vector>

#include "ModuleTestDir.h"
#include "engine/FileUpdater.h"
#include "platform/Event.h"

namespace {

std::vector<int32_t> g_codes;
void Record(int32_t code, UPDATE_CALLBACK_INFO*) {
    g_codes.push_back(code);
}

class TestModule : public CUpdateModule {
public:
    // Waits for the worker thread itself, so the test never races it.
    bool JoinWorker() { return m_hThread && plat::WaitForThread(m_hThread, plat::INFINITE_WAIT); }
};

}  // namespace

using UpdateModuleTest = ModuleTest;

TEST_F(UpdateModuleTest, RunWithoutTransferObjectFailsWithConnectResult) {
    EnableLogs();
    g_codes.clear();
    TestModule module;
    EXPECT_EQ(module.IsClosedThread(), 1);  // no run started yet
    module.SetCallBack(nullptr, Record);
    ASSERT_EQ(g_FileUpdater.GetProtocol(), nullptr);
    EXPECT_EQ(module.UpdateRun(), RUN_CONNECT_FAILED);
    ASSERT_EQ(module.StartUpdate(), 1);
    ASSERT_TRUE(module.JoinWorker());
    EXPECT_EQ(module.IsClosedThread(), 1);
    EXPECT_EQ(g_codes, std::vector<int32_t>{NOTIFY_UPDATE_FAILED});
    EXPECT_EQ(Count(UpdateLogText(), "] Return Code is 3.\n"), 1u);
}

// (CloseThread is the engine's stop request, tested there.)
TEST_F(UpdateModuleTest, ConnectInfoAndGettersBeforeAnyRun) {
    TestModule module;
    module.SetConnectInfo("127.0.0.1", 1, "", "", "service", "test", LAUNCHER_TYPE_SERVICE, false,
                          0, SERVICE_TYPE_DEFAULT);
    EXPECT_NE(g_FileUpdater.GetProtocol(), nullptr);
    EXPECT_EQ(g_LoginFront.IsLoginFront(), 0);  // useLoginFront false switched it off

    // Before any version decision the getters answer "Unknown".
    char local[20] = "x", latest[20] = "x";
    module.GetMajorUpdateVersion(local, latest);
    EXPECT_STREQ(local, "Unknown");
    EXPECT_STREQ(latest, "");
    module.GetMinorUpdateVersion(local, nullptr);
    EXPECT_STREQ(local, "Unknown");
    module.GetMajorUpdateVersion(nullptr, nullptr);  // null outputs are skipped
    module.SetUpdateProgram("");
    EXPECT_STREQ(CUpdaterBase::GetProgramName(), "Update Program");
}
