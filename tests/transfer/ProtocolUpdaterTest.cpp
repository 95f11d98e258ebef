// Settings rules shared by both transfer classes, tree deletion, the
// factory and the FTP placeholder.
#include <gtest/gtest.h>

#include <memory>

#include "transfer/FTPUpdater.h"
#include "transfer/HTTPUpdater.h"
#include "transfer/TransferTestUtil.h"

using namespace transfertest;

namespace {

std::unique_ptr<CProtocolUpdaterBase> Make(int protocol) {
    return std::unique_ptr<CProtocolUpdaterBase>(
        static_cast<CProtocolUpdaterBase*>(CreateProtocolUpdater(protocol)));
}

TEST(ProtocolUpdater, FactoryPicksTheClass) {
    EXPECT_NE(dynamic_cast<CHTTPUpdater*>(Make(1).get()), nullptr);
    EXPECT_NE(dynamic_cast<CFTPUpdater*>(Make(2).get()), nullptr);
    EXPECT_NE(dynamic_cast<CFTPUpdater*>(Make(0).get()), nullptr);
}

TEST(ProtocolUpdater, SettingsKeepOrReplaceValues) {
    for (int protocol : {1, 2}) {
        SCOPED_TRACE(protocol);
        Recorder rec;
        auto u = Make(protocol);
        u->SetConnectInfo("host", 8080, "user", "pw", "svc/path", "test/path", LAUNCHER_TYPE_TEST);
        EXPECT_STREQ(u->GetDefaultPath(), "test/path");
        u->SetLauncherType(LAUNCHER_TYPE_SERVICE);
        EXPECT_STREQ(u->GetDefaultPath(), "svc/path");
        u->SetLauncherType(2);
        EXPECT_STREQ(u->GetDefaultPath(), "svc/path");
        EXPECT_EQ(u->GetLauncherType(), 2u);

        u->SetAddress("");
        u->SetUserID("");
        u->SetPassword("");
        EXPECT_STREQ(u->GetAddress(), "host");
        EXPECT_STREQ(u->GetUserID(), "user");
        EXPECT_STREQ(u->GetPassword(), "pw");
        u->SetAddress("other");
        EXPECT_STREQ(u->GetAddress(), "other");

        // Null account empties it; null paths keep the old ones.
        u->SetConnectInfo("h2", 0, nullptr, nullptr, nullptr, nullptr, LAUNCHER_TYPE_SERVICE);
        EXPECT_STREQ(u->GetUserID(), "");
        EXPECT_STREQ(u->GetPassword(), "");
        EXPECT_STREQ(u->GetServicePath(), "svc/path");
        EXPECT_STREQ(u->GetTestPath(), "test/path");
        EXPECT_EQ(u->GetPort(), 0u);

        // Over-long values are cut, never overflow.
        std::string longPath(400, 'p');
        u->SetLauncherPath(longPath.c_str());
        EXPECT_EQ(std::string(u->GetDefaultPath()), longPath.substr(0, 259));
    }
}

TEST(ProtocolUpdater, DestructionReleasesTheStopEvent) {
    plat::EventHandle copy;
    {
        CHTTPUpdater http;
        InstallStopEvent(http);
        copy = http.GetStopEvent();
        EXPECT_EQ(plat::WaitForSingleObject(copy, 0), plat::WAIT_TIMEOUT_CODE);
    }
    EXPECT_NE(plat::WaitForSingleObject(copy, 0), plat::WAIT_TIMEOUT_CODE);
}

TEST(ProtocolUpdater, DeletePathRemovesATree) {
    TempDir tmp;
    CHTTPUpdater http;
    WriteFile(tmp / "unpack/a/b/c.bin", "x");
    WriteFile(tmp / "unpack/d.bin", "y");
    EXPECT_EQ(http.DeletePath((tmp / "unpack").c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(tmp / "unpack"));
    EXPECT_EQ(http.DeletePath((tmp / "unpack").c_str()), 0);
}

TEST(ProtocolUpdater, FtpIsAPlaceholderThatFailsToConnect) {
    Recorder rec;
    CFTPUpdater ftp;
    EXPECT_EQ(ftp.GetPort(), 21u);
    EXPECT_STREQ(ftp.GetServicePath(), "kor/varn/service");
    EXPECT_STREQ(ftp.GetTestPath(), "kor/varn/test");
    EXPECT_STREQ(ftp.GetUserID(), ftp.GetPassword());
    EXPECT_EQ(ftp.Connect(), 0);
    EXPECT_EQ(ftp.GetConnectState(), CONNECT_STATE_DISCONNECTED);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), CUSTOM_ERROR_CONNECT);
    EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "FTP is not available yet");
}

}  // namespace
