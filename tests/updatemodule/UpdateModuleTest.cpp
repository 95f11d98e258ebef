// The facade: the worker life cycle.
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
