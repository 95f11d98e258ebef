// Logs, the last-error record and its notification.
#include <regex>
#include <vector>

#include <cstring>

#include "ModuleTestDir.h"
#include "base/CommandLineMask.h"
#include "mail/MimeCodec.h"
#include "platform/Error.h"
#include "support/MailParse.h"
#include "support/SmtpServer.h"

namespace {

struct Seen {
    int32_t code, errorCode, customCode;
    std::string message;
    bool operator==(const Seen&) const = default;
};
std::vector<Seen> g_seen;

void Record(int32_t code, UPDATE_CALLBACK_INFO* info) {
    g_seen.push_back({code, info->nErrorCode, info->nCustomErrorCode, info->szErrorMsg});
}

}  // namespace

using LogTest = ModuleTest;

TEST_F(LogTest, UpdateAndPatchLogsNeedBothMarkerFileAndFlags) {
    for (bool marker : {false, true}) {
        SCOPED_TRACE(marker);
        if (marker)
            Write(Path("LauncherLog.log"), "");
        CUpdaterBase::s_nSaveLog = CUpdaterBase::s_nSavePatchLog = marker ? 0 : 1;
        g_UpdateLogger.UpdateLog("update line\n");
        g_UpdateLogger.PatchLog("patch line\n");
        EXPECT_FALSE(std::filesystem::exists(Path("Update")));
    }
    UserLog("user line %d\n", 7);
    EXPECT_NE(UserLogText().find("user line 7\n"), std::string::npos);
}

TEST_F(LogTest, LinesAreTimeStampedAndAppendedToDatedFiles) {
    EnableLogs();
    g_UpdateLogger.UpdateLog("first %s\n", "line");
    g_UpdateLogger.UpdateLog("second\n");
    g_UpdateLogger.PatchLog("patched %d\n", 3);

    const std::string update = UpdateLogText();
    EXPECT_TRUE(std::regex_search(update, std::regex(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )"
                                                     R"(first line\n\[[^\]]+\] second\n$)")))
        << update;
    const std::string patch = Read(Path("Update/PATCHLOG.txt"));
    EXPECT_TRUE(std::regex_search(patch, std::regex(R"(^\[[^\]]+\] patched 3\n$)"))) << patch;

    UserLog("u\n");
    const std::regex dated(R"((LOG|USERLOGFILE)_\d{4}_\d\d_\d\d\.txt)");
    for (const char* dir : {"Update/Log", "Log"}) {
        for (const auto& e : std::filesystem::directory_iterator(Path(dir))) {
            EXPECT_TRUE(std::regex_match(e.path().filename().string(), dated)) << e.path();
        }
    }
    g_UpdateLogger.UpdateLog("%s\n", std::string(5000, 'x').c_str());
    const size_t grown = UpdateLogText().size() - update.size();
    EXPECT_GT(grown, 2000u);
    EXPECT_LT(grown, 2100u);
}

TEST_F(LogTest, CommandLineIsLoggedOnlyOnFirstSwitchOn) {
    Write(Path("LauncherLog.log"), "");
    g_UpdateLogger.EnableSaveLog(0);
    EXPECT_EQ(g_UpdateLogger.m_nUserLogMode, 0);
    g_UpdateLogger.EnableSaveLog(1);
    EXPECT_EQ(g_UpdateLogger.m_nUserLogMode, 1);
    g_UpdateLogger.EnableSavePatchLog();
    g_UpdateLogger.EnableSavePatchLog();

    EXPECT_EQ(Count(UpdateLogText(), "] CommandLine "), 1u);
    EXPECT_EQ(Count(Read(Path("Update/PATCHLOG.txt")), "] CommandLine "), 1u);
}

// The log mail: nothing without SENDLOG; every failure leaves "MainSend
// Error" with -1 or the refusing reply, and the password reaches no log;
// the right login delivers the four logs as they were.
TEST_F(LogTest, LogMailReportsFailuresWithTheirCodeAndDeliversTheLogs) {
    EnableLogs();
    Write(Path("Update/update.uvf"), "update\r\nbytes\x01\xff");
    g_UpdateLogger.UpdateLog("before the mail\n");
    EXPECT_EQ(g_UpdateLogger.SendLogMail(), 0);  // SENDLOG is 0
    EXPECT_FALSE(std::filesystem::exists(Path("Update/PATCHLOG.txt")));

    CUpdaterBase::s_nSendLog = 1;
    EXPECT_EQ(g_UpdateLogger.SendLogMail(), 0);  // no server named
    varntest::SmtpServer server("support", "Pa55word");
    std::strcpy(CUpdaterBase::s_szMailServer, server.address().c_str());
    std::strcpy(CUpdaterBase::s_szMailUser, "support");
    std::strcpy(CUpdaterBase::s_szMailAddress, "support@x.example");
    std::strcpy(CUpdaterBase::s_szMailPass, "wrong-Pa55");
    EXPECT_EQ(g_UpdateLogger.SendLogMail(), 0);  // 535, then 530 for MAIL FROM
    CUpdaterBase::RequestMailStop();
    EXPECT_EQ(g_UpdateLogger.SendLogMail(), 0);
    CUpdaterBase::ClearMailStop();
    std::strcpy(CUpdaterBase::s_szMailPass, "Pa55word");
    EXPECT_EQ(g_UpdateLogger.SendLogMail(), 1);

    const std::string patch = Read(Path("Update/PATCHLOG.txt"));
    const std::string update = UpdateLogText();
    EXPECT_EQ(Count(patch, "] MainSend Error -1\n"), 2u) << patch;
    EXPECT_EQ(Count(patch, "] MainSend Error 530\n"), 1u) << patch;
    EXPECT_EQ(Count(patch, "MainSend"), 3u) << patch;
    EXPECT_GE(Count(update, "SendLogMail Warning 535 "), 1u) << update;
    for (const std::string& log : {patch, update, UserLogText()})
        for (const std::string& secret : {std::string("Pa55"), mail::Base64Encode("wrong-Pa55"),
                                          mail::Base64Encode("Pa55word")})
            EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in " << log;

    const auto messages = server.Messages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].to, std::vector<std::string>{"support@x.example"});
    const varntest::MailPart top = varntest::ParseMailPart(messages[0].data);
    EXPECT_EQ(top.headers.at("Subject"), "Update Program 1.0.0.5 Launcher Log");
    EXPECT_EQ(top.headers.at("From"), "\"Update Program\" <support@x.example>");
    EXPECT_EQ(top.headers.at("To"), "\"support\" <support@x.example>");
    const auto files = varntest::MailAttachments(messages[0].data);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files.at("update.uvf"), "update\r\nbytes\x01\xff");
    EXPECT_EQ(files.at("versionlist.uvf"), "");
    EXPECT_EQ(files.at("PATCHLOG.txt"), patch);
    EXPECT_EQ(files.at(g_UpdateLogger.UpdateLogPath().substr(Path("Update/Log/").size())), update);
}

// Logs are mailed: a password on the command line never reaches one.
TEST(CommandLineMaskTest, PasswordWordsAreMaskedAndTheRestKept) {
    const struct {
        const char* line;
        const char* shown;
    } cases[] = {
        {"/g/varn-patch -user u -pass secret -loop", "/g/varn-patch -user u -pass **** -loop"},
        {" -pass \"two words\" -pass x", " -pass **** -pass ****"},
        {"-pass", "-pass"},
        {"\"/my -pass dir/varn-patch\" -getlast", "\"/my -pass dir/varn-patch\" -getlast"},
        {"-password x -pass  y", "-password x -pass  ****"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MaskPasswordOption(c.line), c.shown) << c.line;
}

using ErrorTest = ModuleTest;

TEST_F(ErrorTest, KindsSetMessageCodesAndNotification) {
    g_seen.clear();
    CUpdaterBase::SetCallBack(nullptr, Record);
    EnableLogs();
    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, 5, "first text", 1003);
    EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "first text");
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_CUSTOM);

    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, 6, nullptr, 1004);
    EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "first text");

    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_SYSTEM, 2, "ignored", 0);
    const std::string system = plat::FormatMessageText(2);
    EXPECT_EQ(CUpdaterBase::GetLastErrorMessage(), system);

    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_NONE, 9, "ignored too", 77);
    EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "");
    EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
    EXPECT_EQ(CUpdaterBase::GetLastErrorCode(), 9);
    EXPECT_EQ(CUpdaterBase::GetLastCustomErrorCode(), 77);
    EXPECT_EQ(CUpdaterBase::CallbackInfo().nErrorCode, 0);
    EXPECT_EQ(CUpdaterBase::CallbackInfo().nCustomErrorCode, 0);

    const std::vector<Seen> expected = {{NOTIFY_ERROR, 5, 1003, "first text"},
                                        {NOTIFY_ERROR, 6, 1004, "first text"},
                                        {NOTIFY_ERROR, 2, 0, system}};
    EXPECT_EQ(g_seen, expected);
    CUpdaterBase::SetCallBack(nullptr, nullptr);
    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, 1, "text", 101);
    EXPECT_EQ(g_seen, expected);
    EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "text");
    const std::string log = UpdateLogText();
    EXPECT_EQ(Count(log, "] SetLastErrorMsg ErrorCode "), 5u);
    EXPECT_NE(log.find("SetLastErrorMsg ErrorCode 9 CustomErrorCode 77 ErrorMsg \n"),
              std::string::npos);

    const std::string big(1000, 'm');  // an overlong message is cut
    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, 1, big.c_str(), 1);
    EXPECT_EQ(std::string(CUpdaterBase::GetLastErrorMessage()), big.substr(0, 259));
    EXPECT_EQ(std::string(CUpdaterBase::CallbackInfo().szErrorMsg), big.substr(0, 259));
}

TEST_F(ErrorTest, ExtendedErrorTakesTheServerResponse) {
    EnableLogs();
    CUpdaterBase::SetResponseTextHook([](uint32_t* extended, char* buf, size_t size) {
        *extended = 42;
        return snprintf(buf, size, "550 Access denied") > 0;
    });
    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_CUSTOM, 12003, nullptr, 2004);
    EXPECT_STREQ(CUpdaterBase::GetLastErrorMessage(), "550 Access denied");

    g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_SYSTEM, 12003, nullptr, 0);
    EXPECT_EQ(CUpdaterBase::GetLastErrorMessage(), plat::FormatMessageText(12003));

    const std::string log = UpdateLogText();
    EXPECT_EQ(Count(log, "ERROR_INTERNET_EXTENDED_ERROR 42 ErrorMsg 550 Access denied\n"), 2u);
    EXPECT_LT(log.find("ERROR_INTERNET_EXTENDED_ERROR"), log.find("SetLastErrorMsg"));
}
