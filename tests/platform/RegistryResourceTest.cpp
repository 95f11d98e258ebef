#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TempDir.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/Resource.h"
#include "platform/Win32Types.h"

using namespace plat;

TEST(Registry, KeysAreProfileFilesUnderTheStore) {
    TempDir dir;
    setenv("VARN_REGISTRY_DIR", dir.path().c_str(), 1);
    const std::string key = "Software\\Varn\\Game";
    EXPECT_FALSE(RegistryKeyExists(key));
    std::string value;
    EXPECT_FALSE(RegistryReadString(key, "Path", value));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND_CODE);

    ASSERT_TRUE(RegistryWriteString(key, "Path", "C:\\Games\\Varn"));
    EXPECT_TRUE(RegistryKeyExists("software\\VARN\\game"));
    ASSERT_TRUE(RegistryReadString("SOFTWARE\\varn\\GAME", "path", value));
    EXPECT_EQ(value, "C:\\Games\\Varn");
    EXPECT_FALSE(RegistryReadString(key, "Other", value));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_TRUE(FileExists(dir / "software/varn/game.ini"));

    ASSERT_TRUE(RegistryCreateKey("Software\\Empty"));
    EXPECT_TRUE(RegistryKeyExists("Software\\Empty"));
    EXPECT_TRUE(RegistryCreateKey("Software\\Empty"));

    // A key path must not reach outside the store.
    EXPECT_FALSE(RegistryCreateKey("..\\..\\etc\\evil"));
    EXPECT_FALSE(RegistryWriteString("\\abs", "x", "y"));
    unsetenv("VARN_REGISTRY_DIR");
}

TEST(Resource, BundleLookupFallsBackAndCuts) {
    TempDir dir;
    const std::string text =
        "[Strings]\n"
        "3000 = Line one\\nLine two\\tTabbed \\\\ and \\q kept\n"
        "3001=\"  quoted  \"\n"
        "[Bitmaps]\n"
        "130=bitmaps\\main.png\n"
        "131=../outside.png\n";
    ASSERT_TRUE(WriteWholeFile(dir / "Resource_Test.ini", text.data(), text.size()));
    auto bundle = ResourceBundle::Load(dir / "Resource_Test.ini");
    ASSERT_TRUE(bundle);

    char buf[128];
    EXPECT_EQ(bundle->LoadString(3000, buf, sizeof buf), 38);
    EXPECT_STREQ(buf, "Line one\nLine two\tTabbed \\ and \\q kept");
    EXPECT_EQ(bundle->LoadString(3001, buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "  quoted  ");
    EXPECT_EQ(bundle->LoadString(3000, buf, 5), 4);
    EXPECT_STREQ(buf, "Line");

    // Ids the bundle lacks come from the built-in table, whatever it holds.
    std::string baseText;
    ASSERT_TRUE(ReadWholeFile(VARN_SOURCE_DIR "/resources/base_strings.ini", baseText));
    ProfileText base(baseText);
    for (unsigned id : {101u, 3006u, 3999u}) {
        const std::string* want = base.Find("Strings", std::to_string(id));
        char own[512], viaNull[512];
        int n = bundle->LoadString(id, own, sizeof own);
        EXPECT_EQ(LoadResourceString(nullptr, id, viaNull, sizeof viaNull), n) << id;
        EXPECT_STREQ(own, viaNull) << id;
        EXPECT_EQ(n == 0, want == nullptr || want->empty()) << id;
    }
    EXPECT_EQ(bundle->LoadString(987654, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");

    EXPECT_EQ(bundle->BitmapPath(130), dir / "bitmaps/main.png");
    EXPECT_EQ(bundle->BitmapPath(131), "");
    EXPECT_EQ(bundle->BitmapPath(999), "");
    EXPECT_FALSE(ResourceBundle::Load(dir / "missing.ini"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
}
