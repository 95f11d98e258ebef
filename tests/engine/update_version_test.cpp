// The version-file reader against files composed independently of it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/UpdateVersion.h"
#include "engine/version_test_env.h"
#include "platform/File.h"
#include "support/VersionFileWriter.h"
#include "updatemodule/UpdaterBase.h"

namespace {

using varntest::CVersionFileWriter;
using varntest::VersionTempDir;

CVersionFileWriter SampleFile() {
    CVersionFileWriter w;
    w.updateName = "VarnJP";
    w.updateVersion = "1.0.0.7";
    w.launcherVersion = "1.0.6.1";
    w.minorVersion = "0.3";
    w.executePath = "C:\\Varn\\Varngame.exe";
    w.latestVersion = "1.0.0.8";
    w.primaryVersion = "1.0.0.0";
    w.endVersion = "1.0.0.2";
    w.reserved[0] = 7;
    w.nameCount = 2;
    w.entries = {{std::string(40, 'A'), "Data\\a.bin", 0, 123},
                 {std::string(40, 'F'), "Data\\Sound\\Sound.lpk\\b.wav", 3, 0xFFFFFFF0u}};
    w.trailer1 = 0x11223344;
    w.trailer2 = 0xAABBCCDD;
    return w;
}

TEST(UpdateVersionTest, ReadsHeaderListsAndTrailer) {
    VersionTempDir dir;
    ASSERT_TRUE(SampleFile().Write(dir / "version.uvf"));
    CUpdateVersion v;
    v.SetPath((dir / "version.uvf").c_str());
    ASSERT_TRUE(v.LoadUpdateVersion());
    EXPECT_STREQ(v.m_szUpdateName, "VarnJP");
    EXPECT_STREQ(v.m_szUpdateVersion, "1.0.0.7");
    EXPECT_STREQ(v.m_szLauncherVersion, "1.0.6.1");
    EXPECT_STREQ(v.m_szMinorVersion, "0.3");
    EXPECT_STREQ(v.m_szExecutePath, "C:\\Varn\\Varngame.exe");
    EXPECT_STREQ(v.m_szLatestVersion, "1.0.0.8");
    EXPECT_STREQ(v.m_szPrimaryVersion, "1.0.0.0");
    EXPECT_STREQ(v.m_szEndVersion, "1.0.0.2");
    EXPECT_EQ(v.m_nReserved1, 7u);
    EXPECT_EQ(v.m_nNameCount, 2u);
    EXPECT_EQ(v.m_nTrailer1, 0x11223344u);
    EXPECT_EQ(v.m_nTrailer2, 0xAABBCCDDu);

    uint32_t count = 0;
    const UpdateFileEntry* list = v.GetFileList(&count);
    ASSERT_EQ(count, 2u);
    ASSERT_NE(list, nullptr);
    // List B starts after list A: a wrong skip would misread every entry.
    EXPECT_STREQ(list[0].szFileName, "Data\\a.bin");
    EXPECT_EQ(uint32_t{list[0].nFileSize},  // packed: copy before binding
              123u);
    EXPECT_EQ(list[0].byUpdateType, 0);
    EXPECT_EQ(std::string(list[1].szHash), std::string(40, 'F'));
    EXPECT_STREQ(list[1].szFileName, "Data\\Sound\\Sound.lpk\\b.wav");
    EXPECT_EQ(list[1].byUpdateType, 3);
    EXPECT_EQ(uint32_t{list[1].nFileSize},  // packed: copy before binding
              0xFFFFFFF0u);
}

TEST(UpdateVersionTest, NoNamesAndNoFiles) {
    VersionTempDir dir;
    CVersionFileWriter w = SampleFile();
    w.nameCount = 0;
    ASSERT_TRUE(w.Write(dir / "a.uvf"));
    CUpdateVersion v;
    v.SetPath((dir / "a.uvf").c_str());
    ASSERT_TRUE(v.LoadUpdateVersion());
    uint32_t count = 0;
    EXPECT_STREQ(v.GetFileList(&count)[1].szFileName, "Data\\Sound\\Sound.lpk\\b.wav");

    w.entries.clear();
    ASSERT_TRUE(w.Write(dir / "a.uvf"));
    ASSERT_TRUE(v.LoadUpdateVersion());
    v.GetFileList(&count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(v.m_nTrailer2, 0xAABBCCDDu);
}

TEST(UpdateVersionTest, FilesThatDoNotHoldTheirCountsAreRejected) {
    const std::string valid = SampleFile().Plain();  // 430 + 2*261 + 2*350 + 8
    const size_t exact = valid.size();
    ASSERT_EQ(exact, 430u + 522u + 700u + 8u);
    struct Case {
        const char* what;
        std::string plain;
        bool loads;
    };
    auto withCounts = [](uint32_t names, uint32_t files) {
        CVersionFileWriter w = SampleFile();
        w.overrideCounts = true;
        w.nameCountField = names;
        w.fileCountField = files;
        return w.Plain();
    };
    const Case cases[] = {
        {"exactly fitting", valid, true},
        {"extra bytes after the trailer", valid + std::string(5, '\0'), true},
        {"one byte short", valid.substr(0, exact - 1), false},
        {"429 bytes", valid.substr(0, 429), false},
        {"header only, no trailer", valid.substr(0, 430), false},
        {"name count 0xFFFFFFFF", withCounts(0xFFFFFFFFu, 2), false},
        {"file count 0xFFFFFFFF", withCounts(2, 0xFFFFFFFFu), false},
        {"file count one too many", withCounts(2, 3), false},
        // 261 * 0xFB1886 is 158 in 32-bit arithmetic: a naive check would pass.
        {"count that wraps 32 bits", withCounts(0x00FB1886u, 0), false},
        {"empty file", std::string(), false},
    };
    VersionTempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(CVersionFileWriter::WriteScrambled(dir / "v.uvf", c.plain));
        CUpdateVersion v;
        v.SetPath((dir / "v.uvf").c_str());
        // Load a good file first, so a rejected one must also drop the old list.
        ASSERT_TRUE(SampleFile().Write(dir / "good.uvf"));
        v.SetPath((dir / "good.uvf").c_str());
        ASSERT_TRUE(v.LoadUpdateVersion());
        v.SetPath((dir / "v.uvf").c_str());
        EXPECT_EQ(v.LoadUpdateVersion(), c.loads);
        uint32_t count = 99;
        const UpdateFileEntry* list = v.GetFileList(&count);
        if (c.loads) {
            EXPECT_EQ(count, 2u);
        } else {
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(list, nullptr);
            EXPECT_EQ(v.m_nNameCount, 0u);
        }
    }
}

TEST(UpdateVersionTest, MissingFileLeavesTheLoadedStateAlone) {
    VersionTempDir dir;
    ASSERT_TRUE(SampleFile().Write(dir / "v.uvf"));
    CUpdateVersion v;
    v.SetPath((dir / "v.uvf").c_str());
    ASSERT_TRUE(v.LoadUpdateVersion());
    v.SetPath((dir / "missing.uvf").c_str());
    EXPECT_FALSE(v.LoadUpdateVersion());
    uint32_t count = 0;
    EXPECT_NE(v.GetFileList(&count), nullptr);
    EXPECT_EQ(count, 2u);
    v.Reset();
    EXPECT_EQ(v.GetFileList(&count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_STREQ(v.m_szUpdateVersion, "1.0.0.7");  // reset keeps the header strings
}

TEST(UpdateVersionTest, UnterminatedFieldsAreCutToTheirWidth) {
    VersionTempDir dir;
    CVersionFileWriter w = SampleFile();
    w.updateName = std::string(30, 'N');
    w.updateVersion = std::string(20, '9');
    w.executePath = std::string(260, 'p');
    w.endVersion = std::string(25, '1');  // runs into the reserved integers
    ASSERT_TRUE(w.Write(dir / "v.uvf"));
    CUpdateVersion v;
    v.SetPath((dir / "v.uvf").c_str());
    ASSERT_TRUE(v.LoadUpdateVersion());
    EXPECT_EQ(std::string(v.m_szUpdateName), std::string(29, 'N'));
    EXPECT_EQ(std::string(v.m_szUpdateVersion), std::string(19, '9'));
    EXPECT_EQ(std::string(v.m_szExecutePath), std::string(259, 'p'));
    EXPECT_EQ(std::string(v.m_szEndVersion), std::string(19, '1'));
    EXPECT_STREQ(v.m_szLauncherVersion, "1.0.6.1");

    w.entries[0].hash = std::string(41, 'A');
    w.entries[0].name = std::string(260, 'n');
    ASSERT_TRUE(w.Write(dir / "v.uvf"));
    ASSERT_TRUE(v.LoadUpdateVersion());
    uint32_t count = 0;
    const UpdateFileEntry* list = v.GetFileList(&count);
    EXPECT_EQ(std::string(list[0].szHash), std::string(40, 'A'));
    EXPECT_EQ(std::string(list[0].szFileName), std::string(259, 'n'));
    EXPECT_EQ(uint32_t{list[0].nFileSize}, 123u);  // neighbours untouched
}

TEST(ScrambleTest, EngineAndIndependentKeyAgreeForAnyLength) {
    // The key position restarts at every file, not at every field.
    for (size_t len : {0u, 1u, 9u, 10u, 11u, 19u, 431u, 1660u}) {
        std::string plain(len, '\0');
        for (size_t i = 0; i < len; ++i)
            plain[i] = char(i * 7 + 3);
        std::string engine = plain;
        ScrambleBuffer(reinterpret_cast<uint8_t*>(engine.data()), engine.size());
        EXPECT_EQ(engine, CVersionFileWriter::Scramble(plain)) << len;
        ScrambleBuffer(reinterpret_cast<uint8_t*>(engine.data()), engine.size());
        EXPECT_EQ(engine, plain) << len;
    }
}

}  // namespace
