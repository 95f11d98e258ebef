// The scrambled launcher type file: decoding, the settings it feeds, and the
// plain copy the window reads later.
#include "ModuleTestDir.h"
#include "platform/Path.h"
#include "support/VersionFileWriter.h"

namespace {

// Independent of the module's scrambler, so a wrong key there shows.
constexpr auto Scrambled = varntest::CVersionFileWriter::Scramble;

class TestModule : public CUpdateModule {
public:
    using CUpdateModule::ApplyCommandLine;
    using CUpdateModule::LoadTypeFile;
};

const char kTypeFile[] =
    "[SETUP]\r\nLIVESERVERUPDATE=0\r\nNOTICEURL=http://notice.example/test.html\r\n"
    "SAVELOG=1\r\nSAVEPATCHLOG=0\r\nSENDLOG=1\r\nMAILIP=mail.example\r\n"
    "MAILUSERNAME=support\r\nMAILPASS=\r\nMAILADDRESS=support@mail.example\r\n"
    "LOGINFRONTUSE=1\r\nLOGINFRONTUSEDEFAULT=0\r\n[LF SERVER]\r\nCOUNT=40\r\n"
    "IP0=10.0.0.1\r\nPORT0=5000\r\nIP15=lf15.example\r\nPORT15=5015\r\n";

}  // namespace

using TypeFileTest = ModuleTest;

TEST_F(TypeFileTest, DecodeWritesThePlainTextOfANonEmptyFile) {
    for (const std::string plain : {"", "longer than the ten-byte key"}) {
        Write(Path("in.uvf"), Scrambled(plain));
        ASSERT_EQ(g_UpdateLogger.DecodeFile(Path("in.uvf").c_str(), Path("out.ini").c_str()),
                  plain.empty() ? 0 : 1);
        EXPECT_EQ(Read(Path("out.ini")), plain);  // nothing written for an empty source
    }
    EXPECT_EQ(g_UpdateLogger.DecodeFile(Path("none.uvf").c_str(), Path("out.ini").c_str()), 0);
    EXPECT_EQ(g_UpdateLogger.DecodeFile(Path("in.uvf").c_str(), Path("no/dir/out.ini").c_str()), 0);
}

TEST_F(TypeFileTest, LoadAppliesEverySectionAndKeepsThePlainCopyPrivate) {
    Write(Path("Update/type.uvf"), Scrambled(kTypeFile));
    TestModule module;  // the constructor loads the type file

    EXPECT_EQ(CUpdaterBase::s_nSaveLog, 1);
    EXPECT_EQ(CUpdaterBase::s_nSendLog, 1);
    EXPECT_STREQ(CUpdaterBase::s_szMailServer, "mail.example");
    EXPECT_STREQ(CUpdaterBase::s_szMailAddress, "support@mail.example");
    EXPECT_STREQ(CUpdaterBase::s_szMailPass, "");

    EXPECT_EQ(g_LoginFront.IsLoginFront(), 1);  // LOGINFRONTUSE=1
    EXPECT_EQ(g_LoginFront.IsUseDefault(), 0);
    EXPECT_EQ(g_LoginFront.GetServerCount(), 16);  // COUNT=40 is cut to the table
    EXPECT_STREQ(g_LoginFront.GetServerHost(0), "10.0.0.1");
    EXPECT_EQ(g_LoginFront.GetServerPort(0), 5000);
    EXPECT_STREQ(g_LoginFront.GetServerHost(15), "lf15.example");
    EXPECT_EQ(g_LoginFront.GetServerPort(15), 5015);

    EXPECT_EQ(module.IsLiveServerUpdate(), 0);
    EXPECT_NE(UserLogText().find("for TestServer \n"), std::string::npos);
    char url[260] = {};
    module.GetNoticeURL(url, nullptr);
    EXPECT_STREQ(url, "http://notice.example/test.html");

    char plain[260];
    CUpdaterBase::GetPlainTypePath(plain, sizeof(plain));
    EXPECT_EQ(Read(plain), kTypeFile);
    EXPECT_NE(std::string(plain), Path("type.uvf"));
    EXPECT_EQ(std::filesystem::status(plat::DirName(plain)).permissions() &
                  std::filesystem::perms::others_all,
              std::filesystem::perms::none);

    std::filesystem::remove(Path("Update/type.uvf"));
    EXPECT_EQ(module.LoadTypeFile(), 0);
    module.GetNoticeURL(url, nullptr);
    EXPECT_STREQ(url, "http://notice.example/test.html");
}

TEST_F(TypeFileTest, EmptyStoredFileChangesNothing) {
    Write(Path("Update/type.uvf"), "");
    CUpdaterBase::s_nSaveLog = 0;
    TestModule module;
    EXPECT_EQ(module.LoadTypeFile(), 0);
    EXPECT_EQ(CUpdaterBase::s_nSaveLog, 0);
    EXPECT_EQ(g_LoginFront.IsLoginFront(), 1);

    EXPECT_EQ(module.IsLiveServerUpdate(), 1);
    EXPECT_NE(UserLogText().find("for Live \n"), std::string::npos);
    char url[260] = {};
    module.GetNoticeURL(url, nullptr);
    EXPECT_STREQ(url, CUpdateModule::kDefaultNoticeURL);
}

TEST_F(TypeFileTest, DefaultLoginFrontTableIsKept) {
    Write(Path("plain.ini"), "[SETUP]\nLOGINFRONTUSEDEFAULT=1\n[LF SERVER]\nCOUNT=1\nIP0=x\n");
    CLoginFrontClient client;
    client.LoadSettings(Path("plain.ini").c_str());
    EXPECT_EQ(client.IsLoginFront(), 0);
    EXPECT_EQ(client.GetServerCount(), CLoginFrontClient::kMaxServers);
    EXPECT_STREQ(client.GetServerHost(0), CLoginFrontClient::kDefaultHost);
    EXPECT_STREQ(client.GetServerHost(1), CLoginFrontClient::kDefaultHost);
    EXPECT_EQ(client.GetServerPort(1), CLoginFrontClient::kDefaultPort);
    EXPECT_STREQ(client.GetServerHost(2), "");
    EXPECT_EQ(client.ConnectLFServer(), 0);
}

// The key decides where it is present; a switch that turned the query off
// holds against every later load of the type file.
TEST_F(TypeFileTest, LoginFrontUseFollowsTheKeyButNeverUndoesASwitch) {
    const auto load = [this](CLoginFrontClient& client, const std::string& setup) {
        Write(Path("plain.ini"), "[SETUP]\n" + setup);
        client.LoadSettings(Path("plain.ini").c_str());
        return client.IsLoginFront();
    };
    CLoginFrontClient client;
    EXPECT_EQ(load(client, "LOGINFRONTUSE=1\n"), 1);
    EXPECT_EQ(load(client, "LOGINFRONTUSE=0\n"), 0);
    EXPECT_EQ(load(client, "LOGINFRONTUSE=1\n"), 1);
    EXPECT_EQ(load(client, "LOGINFRONTUSEDEFAULT=1\n"), 0);  // absent: off
    client.SetLoginFront(0);
    EXPECT_EQ(load(client, "LOGINFRONTUSE=1\n"), 0);
    client.SetLoginFront(1);
    EXPECT_EQ(load(client, "LOGINFRONTUSE=1\n"), 1);

    // Through the module: "-nouself", then the reload that CheckCommandLine
    // does.
    Write(Path("Update/type.uvf"), Scrambled(kTypeFile));
    TestModule module;
    ASSERT_EQ(g_LoginFront.IsLoginFront(), 1);
    module.ApplyCommandLine(" -nouself");
    ASSERT_EQ(module.LoadTypeFile(), 1);
    EXPECT_EQ(g_LoginFront.IsLoginFront(), 0);
}
