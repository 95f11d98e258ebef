#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Profile.h"
#include "platform/Win32Types.h"

using namespace plat;

namespace {

void Write(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteWholeFile(path, text.data(), text.size()));
}

std::string Read(const std::string& path) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(path, text));
    return text;
}

std::string Get(const std::string& path, const char* section, const char* key,
                const char* def = "DEF", unsigned size = 256) {
    char buf[256];
    unsigned n = GetPrivateProfileString(section, key, def, buf, size, path.c_str());
    EXPECT_EQ(n, std::string(buf).size());
    return buf;
}

}  // namespace

TEST(Profile, ReadsAwkwardText) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    Write(path,
          "\xEF\xBB\xBF[Server]\r\n"
          "orphan line without equals\r\n"
          "  Host  =  patch.example  \r\n"
          "host=second-ignored\r\n"
          "; Comment=not a key\r\n"
          "Quoted=\"  padded  \"\r\n"
          "Empty=\r\n"
          "Path=C:\\Games\\Varn=x\r\n"
          "[  Other Section ]\n"
          "Key=lf-only\n"
          "[Server]\n"
          "Late=from a repeated section\n"
          "[Unclosed\n"
          "k=v");
    struct Case {
        const char *section, *key, *want;
    } cases[] = {
        {"Server", "Host", "patch.example"},
        {"SERVER", "hOsT", "patch.example"},  // case-insensitive, first duplicate wins
        {"Server", "Quoted", "  padded  "},
        {"Server", "Empty", ""},
        {"Server", "Path", "C:\\Games\\Varn=x"},  // only the first "=" splits
        {"Server", "; Comment", "DEF"},
        {"Server", "orphan line without equals", "DEF"},
        {"Other Section", "Key", "lf-only"},
        {"Server", "Late", "from a repeated section"},
        {"Unclosed", "k", "v"},
        {"Missing", "Host", "DEF"},
        {"Server", "Missing", "DEF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Get(path, c.section, c.key), c.want) << c.section << "/" << c.key;
    }
    EXPECT_EQ(Get(dir / "absent.ini", "Server", "Host"), "DEF");
    EXPECT_EQ(Get(path, "Missing", "Host", nullptr), "");
}

TEST(Profile, KeysBeforeAnySectionAreIgnored) {
    ProfileText text("Host=top\n[S]\nOther=1\n");
    EXPECT_EQ(text.Find("", "Host"), nullptr);
    EXPECT_EQ(text.Find("S", "Host"), nullptr);
    ASSERT_NE(text.Find("s", "other"), nullptr);
}

TEST(Profile, TruncatesToBufferSize) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    Write(path, "[S]\nk=abcdef\nlong=" + std::string(100000, 'x') + "\n");
    char buf[8] = "zzzzzzz";
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", buf, 4, path.c_str()), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", buf, 1, path.c_str()), 0u);
    EXPECT_STREQ(buf, "");
    buf[0] = 'z';
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", buf, 0, path.c_str()), 0u);
    EXPECT_EQ(buf[0], 'z');  // size 0 must not write at all
    EXPECT_EQ(GetPrivateProfileString("S", "missing", "default", buf, 4, path.c_str()), 3u);
    EXPECT_STREQ(buf, "def");
    EXPECT_EQ(GetProfileString("S", "long", "", path).size(), 100000u);
}

TEST(Profile, ListsSectionAndKeyNames) {
    TempDir dir;
    const std::string path = dir / "n.ini";
    Write(path, "[A]\nx=1\nX=2\ny=3\n[B]\n[a]\nz=4\n");
    char buf[64];
    unsigned n = GetPrivateProfileString(nullptr, nullptr, "", buf, sizeof buf, path.c_str());
    EXPECT_EQ(std::string(buf, n + 1), std::string("A\0B\0", 5));
    n = GetPrivateProfileString("a", nullptr, "", buf, sizeof buf, path.c_str());
    EXPECT_EQ(std::string(buf, n + 1), std::string("x\0y\0z\0", 7));
    n = GetPrivateProfileString("a", nullptr, "", buf, 4, path.c_str());
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(std::string(buf, 4), std::string("x\0\0\0", 4));
}

TEST(Profile, IntParsesLeadingDigits) {
    TempDir dir;
    const std::string path = dir / "i.ini";
    Write(path,
          "[N]\nplain=42\nsigned=-17\nplus=+8\ntail=12abc\nword=abc\nempty=\n"
          "huge=99999999999999999999\nneg=-99999999999999999999\nspaced=  7  \n");
    struct Case {
        const char* key;
        int want;
    } cases[] = {{"plain", 42}, {"signed", -17}, {"plus", 8},          {"tail", 12},
                 {"word", 0},   {"empty", 5},    {"huge", 2147483647}, {"neg", -2147483647 - 1},
                 {"spaced", 7}, {"missing", 5}};
    for (const auto& c : cases) {
        EXPECT_EQ(GetPrivateProfileInt("N", c.key, 5, path.c_str()), c.want) << c.key;
    }
    EXPECT_EQ(GetPrivateProfileInt("N", "plain", 5, (dir / "none.ini").c_str()), 5);
}

TEST(Profile, WriteChangesOneKeyAndKeepsTheRest) {
    TempDir dir;
    const std::string path = dir / "w.ini";
    const std::string before =
        "; header comment\r\n[First]\r\n  Key = old value ; trailing\r\nkey=dup\r\nOther=1\r\n\r\n"
        "[Second]\r\nA=1\r\n\r\n\r\n[Third]\r\nZ=9";
    Write(path, before);

    ASSERT_TRUE(WritePrivateProfileString("FIRST", "key", "new", path.c_str()));
    std::string want = before;
    want.replace(want.find("  Key = old value ; trailing"), 28, "key=new");
    EXPECT_EQ(Read(path), want);

    // A new key goes after the section's last line, not after blank lines.
    ASSERT_TRUE(WritePrivateProfileString("Second", "B", "2", path.c_str()));
    want.replace(want.find("A=1\r\n") + 5, 0, "B=2\r\n");
    EXPECT_EQ(Read(path), want);

    // The last line has no line break; the appended key must not join it.
    ASSERT_TRUE(WritePrivateProfileString("Third", "Y", "8", path.c_str()));
    want += "\r\nY=8\r\n";
    EXPECT_EQ(Read(path), want);

    ASSERT_TRUE(WritePrivateProfileString("New", "K", "v", path.c_str()));
    want += "[New]\r\nK=v\r\n";
    EXPECT_EQ(Read(path), want);
    EXPECT_EQ(Get(path, "new", "k"), "v");
}

TEST(Profile, WriteDeletesKeysAndSections) {
    TempDir dir;
    const std::string path = dir / "d.ini";
    Write(path, "[S]\nk=1\nK=2\nj=3\n[T]\nx=1\n[U]\ny=2\n");
    ASSERT_TRUE(WritePrivateProfileString("s", "k", nullptr, path.c_str()));
    EXPECT_EQ(Read(path), "[S]\nj=3\n[T]\nx=1\n[U]\ny=2\n");  // no duplicate shows through
    ASSERT_TRUE(WritePrivateProfileString("T", nullptr, nullptr, path.c_str()));
    EXPECT_EQ(Read(path), "[S]\nj=3\n[U]\ny=2\n");
    EXPECT_TRUE(WritePrivateProfileString("S", "absent", nullptr, path.c_str()));
    EXPECT_TRUE(WritePrivateProfileString("S", "k", nullptr, (dir / "none.ini").c_str()));
    EXPECT_FALSE(FileExists(dir / "none.ini"));
}

TEST(Profile, WriteCreatesFileAndRefusesUnsafeInput) {
    TempDir dir;
    const std::string path = dir / "c.ini";
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", path.c_str()));
    EXPECT_EQ(Read(path), "[S]\nk=v\n");

    // Line breaks would add lines (a forged section or key) to the file.
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v\n[Evil]\nx=1", path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER_CODE);
    EXPECT_FALSE(WritePrivateProfileString("S", "a=b", "v", path.c_str()));
    EXPECT_FALSE(WritePrivateProfileString("S]x", "k", "v", path.c_str()));
    EXPECT_EQ(Read(path), "[S]\nk=v\n");

    ASSERT_TRUE(SetReadOnly(path, true));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "w", path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED_CODE);
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "w", (dir / "no/such/dir.ini").c_str()));
}

TEST(Profile, ConcurrentWritersKeepEveryKey) {
    TempDir dir;
    const std::string path = dir / "shared.ini";
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&path, t] {
            for (int i = 0; i < 10; ++i) {
                std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
                WritePrivateProfileString("S", key.c_str(), "v", path.c_str());
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 10; ++i) {
            std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
            EXPECT_EQ(Get(path, "S", key.c_str()), "v") << key;
        }
    }
}
