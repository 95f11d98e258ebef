// The version-file reader against files composed independently of it.
#include <gtest/gtest.h>

#include <string>

#include "engine/UpdateVersion.h"
#include "support/TempDir.h"
#include "support/VersionFileWriter.h"

namespace {

using varntest::CVersionFileWriter;
using varntest::TempDir;

CVersionFileWriter SampleFile() {
    CVersionFileWriter w;
    w.updateName = std::string(30, 'N');
    w.updateVersion = "1.0.0.7";
    w.launcherVersion = "1.0.6.1";
    w.minorVersion = std::string(20, '3');
    w.executePath = "C:\\Varn\\" + std::string(252, 'p');
    w.latestVersion = "1.0.0.8";
    w.primaryVersion = "1.0.0.0";
    w.endVersion = "1.0.0.2";
    w.nameCount = 2;
    w.entries = {{std::string(41, 'A'), std::string(260, 'n'), 0, 123},
                 {std::string(40, 'F'), "Data\\Sound\\Sound.lpk\\b.wav", 3, 0xFFFFFFF0u}};
    return w;
}

TEST(UpdateVersionTest, ReadsEveryFieldCutToItsWidth) {
    TempDir dir;
    ASSERT_TRUE(SampleFile().Write(dir / "version.uvf"));
    CUpdateVersion v;
    v.SetPath((dir / "version.uvf").c_str());
    ASSERT_TRUE(v.LoadUpdateVersion());
    EXPECT_EQ(std::string(v.m_szUpdateName), std::string(29, 'N'));
    EXPECT_STREQ(v.m_szUpdateVersion, "1.0.0.7");
    EXPECT_STREQ(v.m_szLauncherVersion, "1.0.6.1");
    EXPECT_EQ(std::string(v.m_szMinorVersion), std::string(19, '3'));
    EXPECT_EQ(std::string(v.m_szExecutePath), "C:\\Varn\\" + std::string(251, 'p'));
    EXPECT_STREQ(v.m_szLatestVersion, "1.0.0.8");
    EXPECT_STREQ(v.m_szPrimaryVersion, "1.0.0.0");
    EXPECT_STREQ(v.m_szEndVersion, "1.0.0.2");

    uint32_t count = 0;
    const UpdateFileEntry* list = v.GetFileList(&count);
    ASSERT_EQ(count, 2u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(std::string(list[0].szHash), std::string(40, 'A'));
    EXPECT_EQ(std::string(list[0].szFileName), std::string(259, 'n'));
    EXPECT_EQ(uint32_t{list[0].nFileSize}, 123u);  // packed: copy before binding
    EXPECT_EQ(list[0].byUpdateType, 0);
    EXPECT_EQ(std::string(list[1].szHash), std::string(40, 'F'));
    EXPECT_STREQ(list[1].szFileName, "Data\\Sound\\Sound.lpk\\b.wav");
    EXPECT_EQ(list[1].byUpdateType, 3);
    EXPECT_EQ(uint32_t{list[1].nFileSize}, 0xFFFFFFF0u);

    v.SetPath((dir / "missing.uvf").c_str());
    EXPECT_FALSE(v.LoadUpdateVersion());
    EXPECT_NE(v.GetFileList(&count), nullptr);
    EXPECT_EQ(count, 2u);
}

TEST(UpdateVersionTest, FilesThatDoNotHoldTheirCountsAreRejected) {
    const std::string valid = SampleFile().Plain();
    const size_t exact = valid.size();
    ASSERT_EQ(exact, 430u + 2 * 261u + 2 * 350u + 8u);
    auto withCounts = [&](uint32_t names, uint32_t files) {
        std::string plain = valid;
        for (int i = 0; i < 4; ++i) {
            plain[CVersionFileWriter::kCountsOffset + i] = char(names >> (8 * i));
            plain[CVersionFileWriter::kCountsOffset + 4 + i] = char(files >> (8 * i));
        }
        return plain;
    };
    CVersionFileWriter noNames = SampleFile(), noFiles = SampleFile();
    noNames.nameCount = 0;
    noFiles.entries.clear();
    const struct {
        const char* what;
        std::string plain;
        int count;  // -1: rejected
    } cases[] = {
        {"extra bytes after the trailer", valid + std::string(5, '\0'), 2},
        {"no names", noNames.Plain(), 2},
        {"no files", noFiles.Plain(), 0},
        {"one byte short", valid.substr(0, exact - 1), -1},
        {"file count one too many", withCounts(2, 3), -1},
        // 261 * 0xFB1886 is 158 in 32-bit arithmetic: a naive check would pass.
        {"count that wraps 32 bits", withCounts(0x00FB1886u, 0), -1},
    };
    TempDir dir;
    ASSERT_TRUE(SampleFile().Write(dir / "good.uvf"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir::WriteFile(dir / "v.uvf", CVersionFileWriter::Scramble(c.plain));
        // Load a good file first, so a rejected one must also drop the old list.
        CUpdateVersion v;
        v.SetPath((dir / "good.uvf").c_str());
        ASSERT_TRUE(v.LoadUpdateVersion());
        v.SetPath((dir / "v.uvf").c_str());
        EXPECT_EQ(v.LoadUpdateVersion(), c.count >= 0);
        uint32_t count = 99;
        const UpdateFileEntry* list = v.GetFileList(&count);
        if (c.count < 0) {
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(list, nullptr);
            EXPECT_EQ(v.m_nNameCount, 0u);
        } else {
            ASSERT_EQ(count, uint32_t(c.count));
            if (count == 2)
                EXPECT_STREQ(list[1].szFileName, "Data\\Sound\\Sound.lpk\\b.wav");
        }
    }
}

}  // namespace
