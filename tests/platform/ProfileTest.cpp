#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/Resource.h"
#include "platform/Win32Types.h"
#include "support/TempDir.h"

using namespace plat;
using varntest::TempDir;

namespace {

const auto Write = TempDir::WriteFile;
const auto Read = TempDir::ReadFile;

std::string Get(const std::string& path, const char* section, const char* key,
                const char* def = "DEF", unsigned size = 256, unsigned* count = nullptr) {
    char buf[256] = "untouched";
    unsigned n = GetPrivateProfileString(section, key, def, buf, size, path.c_str());
    if (count)
        *count = n;
    else
        EXPECT_EQ(n, std::string(buf).size());
    return buf;
}

}  // namespace

TEST(Profile, ReadsAwkwardText) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    Write(path,
          "\xEF\xBB\xBF[Server]\r\norphan line without equals\r\n  Host  =  patch.example  \r\n"
          "host=second-ignored\r\n; Comment=not a key\r\nQuoted=\"  padded  \"\r\nEmpty=\r\n"
          "Path=C:\\Games\\Varn=x\r\n[  Other Section ]\nKey=lf-only\n"
          "[Server]\nLate=from a repeated section\n[Unclosed\nk=v");
    struct Case {
        const char *section, *key, *want;
    } cases[] = {{"SERVER", "hOsT", "patch.example"},  // any case; the first duplicate wins
                 {"Server", "Quoted", "  padded  "},
                 {"Server", "Empty", ""},
                 {"Server", "Path", "C:\\Games\\Varn=x"},  // only the first "=" splits
                 {"Server", "; Comment", "DEF"},
                 {"Server", "orphan line without equals", "DEF"},
                 {"Other Section", "Key", "lf-only"},
                 {"Server", "Late", "from a repeated section"},
                 {"Unclosed", "k", "v"}};
    for (const auto& c : cases)
        EXPECT_EQ(Get(path, c.section, c.key), c.want) << c.section << "/" << c.key;
    EXPECT_EQ(Get(dir / "absent.ini", "Server", "Host"), "DEF");
    EXPECT_EQ(Get(path, "Missing", "Host", nullptr), "");
    ProfileText top("Host=top\n[S]\nOther=1\n");
    EXPECT_TRUE(!top.Find("", "Host") && !top.Find("S", "Host") && top.Find("s", "other"));
}

TEST(Profile, CopiesStayInsideTheBuffer) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    Write(path, "[S]\nk=abcdef\nlong=" + std::string(100000, 'x') + "\n");
    unsigned n = 99;
    EXPECT_EQ(Get(path, "S", "k", "", 4, &n), "abc");
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(Get(path, "S", "k", "", 0, &n), "untouched");  // size 0 must not write at all
    EXPECT_EQ(Get(path, "S", "missing", "default", 4), "def");
    EXPECT_EQ(GetProfileString("S", "long", "", path).size(), 100000u);
}

TEST(Profile, IntParsesLeadingDigitsAndSaturates) {
    TempDir dir;
    const std::string path = dir / "i.ini";
    Write(path,
          "[N]\nplain=42\nsigned=-17\nplus=+8\ntail=12abc\nword=abc\nempty=\n"
          "huge=99999999999999999999\nneg=-99999999999999999999\nspaced=  7  \n");
    const std::pair<const char*, int> cases[] = {
        {"plain", 42}, {"signed", -17}, {"plus", 8},          {"tail", 12},
        {"word", 0},   {"empty", 5},    {"huge", 2147483647}, {"neg", -2147483647 - 1},
        {"spaced", 7}, {"missing", 5}};
    for (auto [key, want] : cases)
        EXPECT_EQ(GetPrivateProfileInt("N", key, 5, path.c_str()), want) << key;
}

TEST(Profile, WriteChangesOneLineAndKeepsTheRest) {
    TempDir dir;
    const std::string path = dir / "w.ini";
    std::string want =
        "; header comment\r\n[First]\r\n  Key = old value ; trailing\r\nkey=dup\r\nOther=1\r\n\r\n"
        "[Second]\r\nA=1\r\n\r\n\r\n[Third]\r\nZ=9";
    Write(path, want);
    ASSERT_TRUE(WritePrivateProfileString("FIRST", "key", "new", path.c_str()));
    want.replace(want.find("  Key = old value ; trailing"), 28, "key=new");
    EXPECT_EQ(Read(path), want);
    ASSERT_TRUE(WritePrivateProfileString("Second", "B", "2", path.c_str()));
    want.replace(want.find("A=1\r\n") + 5, 0, "B=2\r\n");
    EXPECT_EQ(Read(path), want);
    ASSERT_TRUE(WritePrivateProfileString("Third", "Y", "8", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("New", "K", "v", path.c_str()));
    EXPECT_EQ(Read(path), want + "\r\nY=8\r\n[New]\r\nK=v\r\n");

    Write(path, "[S]\nk=1\nK=2\nj=3\n[T]\nx=1\n[U]\ny=2\n");
    ASSERT_TRUE(WritePrivateProfileString("s", "k", nullptr, path.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("T", nullptr, nullptr, path.c_str()));
    EXPECT_TRUE(WritePrivateProfileString("S", "absent", nullptr, path.c_str()));
    EXPECT_EQ(Read(path), "[S]\nj=3\n[U]\ny=2\n");
    EXPECT_TRUE(WritePrivateProfileString("S", "k", nullptr, (dir / "none.ini").c_str()));
    EXPECT_FALSE(FileExists(dir / "none.ini"));
}

TEST(Profile, WriteCreatesFileAndRefusesUnsafeInput) {
    TempDir dir;
    const std::string path = dir / "c.ini";
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", path.c_str()));
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
    auto key = [](int t, int i) { return "k" + std::to_string(t) + "_" + std::to_string(i); };
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i)
                WritePrivateProfileString("S", key(t, i).c_str(), "v", path.c_str());
        });
    }
    for (auto& w : writers)
        w.join();
    for (int k = 0; k < 40; ++k)
        EXPECT_EQ(Get(path, "S", key(k / 10, k % 10).c_str()), "v") << k;
}

TEST(Registry, KeysAreCaseBlindProfileFilesInsideTheStore) {
    TempDir dir;
    setenv("VARN_REGISTRY_DIR", dir.path().c_str(), 1);
    std::string value;
    EXPECT_FALSE(RegistryKeyExists("Software\\Varn\\Game"));
    ASSERT_TRUE(RegistryWriteString("Software\\Varn\\Game", "Path", "C:\\Games\\Varn"));
    EXPECT_TRUE(RegistryKeyExists("software\\VARN\\game"));
    ASSERT_TRUE(RegistryReadString("SOFTWARE\\varn\\GAME", "path", value));
    EXPECT_EQ(value, "C:\\Games\\Varn");
    EXPECT_FALSE(RegistryReadString("Software\\Varn\\Game", "Other", value));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_TRUE(FileExists(dir / "software/varn/game.ini"));
    EXPECT_FALSE(RegistryWriteString("..\\..\\etc\\evil", "x", "y"));
    EXPECT_FALSE(RegistryWriteString("\\abs", "x", "y"));
    unsetenv("VARN_REGISTRY_DIR");
}

TEST(Resource, BundleUnescapesFallsBackCutsAndConfinesBitmaps) {
    TempDir dir;
    Write(dir / "Resource_Test.ini",
          "[Strings]\n3000 = Line one\\nLine two\\tTabbed \\\\ and \\q kept\n"
          "3001=\"  quoted  \"\n[Bitmaps]\n130=bitmaps\\main.png\n131=../outside.png\n");
    auto bundle = ResourceBundle::Load(dir / "Resource_Test.ini");
    ASSERT_TRUE(bundle);
    char buf[128], base[128];
    EXPECT_EQ(bundle->LoadString(3000, buf, sizeof buf), 38);
    EXPECT_STREQ(buf, "Line one\nLine two\tTabbed \\ and \\q kept");
    EXPECT_EQ(bundle->LoadString(3001, buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "  quoted  ");
    EXPECT_EQ(bundle->LoadString(3000, buf, 5), 4);
    EXPECT_STREQ(buf, "Line");
    int n = LoadResourceString(nullptr, 101, base, sizeof base);
    EXPECT_GT(n, 0);
    EXPECT_EQ(bundle->LoadString(101, buf, sizeof buf), n);
    EXPECT_STREQ(buf, base);
    EXPECT_EQ(bundle->LoadString(987654, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(bundle->BitmapPath(130), dir / "bitmaps/main.png");
    EXPECT_EQ(bundle->BitmapPath(131), "");
    EXPECT_FALSE(ResourceBundle::Load(dir / "missing.ini"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
}
