// The game's settings files as the options dialog reads and writes them:
// the screen modes and the gamma slider, values the dialog does not
// offer, files of any letter case, the decimal point, and a file that
// cannot be replaced.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "host/GameOptions.h"
#include "platform/File.h"
#include "support/TempDir.h"

using varntest::TempDir;

namespace {

// Both files complete, so that a save of unchanged values adds nothing.
constexpr const char* kScreenIni =
    "; written by the game\r\n"
    "[Screen]\r\n"
    "Width=1280\r\nHeight=960\r\nFullScreen=1\r\nRed=5\r\nGreen=5\r\nBlue=5\r\n"
    "Refresh=75\r\n"
    "\r\n[Window]\r\nX=10\r\n";
constexpr const char* kParamDat =
    "[PARAM]\nTextureQuality=1\nLOD=0\nEffectQuality=3\nShadowON=0\nBlurState=1\n"
    "FogState=0\nMapSpecular=1\nGamma=1.0\nSound=7\n";

class GameOptionsTest : public ::testing::Test {
protected:
    std::string Screen() const { return TempDir::ReadFile(m_dir / kScreenSettingsFile); }
    std::string Param() const { return TempDir::ReadFile(m_dir / kParamSettingsFile); }
    void Write(const std::string& screen, const std::string& param) {
        TempDir::WriteFile(m_dir / kScreenSettingsFile, screen);
        TempDir::WriteFile(m_dir / kParamSettingsFile, param);
    }
    // Opens the dialog's record, lets edit change it, and saves.
    bool OpenEditSave(const std::function<void(GAME_OPTIONS&)>& edit,
                      GameOptionsSaveError* error = nullptr) {
        const GAME_OPTIONS loaded = LoadGameOptions(m_dir.path());
        GAME_OPTIONS edited = loaded;
        edit(edited);
        return SaveGameOptions(m_dir.path(), edited, loaded, error);
    }

    TempDir m_dir;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST_F(GameOptionsTest, EveryScreenModeIsFoundAndOthersShowTheNearest) {
    for (size_t i = 0; i < kScreenModes.size(); ++i) {
        const ScreenMode& m = kScreenModes[i];
        const int bits = m.bits == 16 ? 5 : 8;
        Write("[Screen]\nWidth=" + std::to_string(m.width) +
                  "\nHeight=" + std::to_string(m.height) + "\nRed=" + std::to_string(bits) +
                  "\nGreen=" + std::to_string(bits) + "\nBlue=" + std::to_string(bits) + "\n",
              "");
        const GAME_OPTIONS o = LoadGameOptions(m_dir.path());
        EXPECT_EQ(FindScreenMode(o), static_cast<int>(i)) << ScreenModeText(m);
        GAME_OPTIONS picked;
        SetScreenMode(picked, static_cast<int>(i));
        EXPECT_EQ(FindScreenMode(picked), static_cast<int>(i)) << ScreenModeText(m);
    }
    EXPECT_EQ(ScreenModeText(kScreenModes[12]), "1360x768x16");

    struct Case {
        int16_t width, height;
        uint8_t bits;
        const char* shown;
    };
    const Case others[] = {
        {1920, 1080, 8, "1680x1050x24"}, {1280, 800, 5, "1280x768x16"},
        {1024, 768, 6, "1024x768x24"},   {320, 200, 5, "640x480x16"},
        {1400, 900, 8, "1440x900x24"},   {-5, 0, 8, "640x480x24"},
    };
    for (const Case& c : others) {
        GAME_OPTIONS o;
        o.Width = c.width;
        o.Height = c.height;
        o.Red = o.Green = o.Blue = c.bits;
        EXPECT_EQ(FindScreenMode(o), -1) << c.shown;
        EXPECT_EQ(ScreenModeText(kScreenModes[NearestScreenMode(o)]), c.shown);
    }
}

TEST_F(GameOptionsTest, GammaKeepsItsPositionOverOpenAndClose) {
    EXPECT_EQ(GammaToPosition(LoadGameOptions(m_dir.path()).Gamma), 50) << "no file: 1.0";
    for (int position = 0; position <= kGammaPositions; ++position) {
        ASSERT_TRUE(OpenEditSave([&](GAME_OPTIONS& o) { o.Gamma = PositionToGamma(position); }));
        for (int reopen = 0; reopen < 2; ++reopen) {
            ASSERT_TRUE(OpenEditSave([](GAME_OPTIONS&) {}));
            EXPECT_EQ(GammaToPosition(LoadGameOptions(m_dir.path()).Gamma), position);
        }
    }
    EXPECT_NE(Param().find("GAMMA=2.000000"), std::string::npos) << Param();

    GAME_OPTIONS o;
    o.Gamma = 0.5f;
    ResetGameOptions(o);
    EXPECT_EQ(GammaToPosition(o.Gamma), 50);
    const struct {
        float gamma;
        int position;
    } outside[] = {{-1.0f, 0}, {2.5f, 100}, {NAN, 50}, {INFINITY, 50}, {1.011f, 51}};
    for (const auto& c : outside)
        EXPECT_EQ(GammaToPosition(c.gamma), c.position) << c.gamma;
}

TEST_F(GameOptionsTest, OnlyWhatThePlayerChangedIsWritten) {
    struct Case {
        const char* what;
        std::function<void(GAME_OPTIONS&)> edit;
        std::string screen, param;  // expected after the save
    };
    const Case cases[] = {
        {"nothing changed", [](GAME_OPTIONS&) {}, kScreenIni, kParamDat},
        {"one combo", [](GAME_OPTIONS& o) { o.LOD = 2; }, kScreenIni,
         Replace(kParamDat, "LOD=0", "LOD=2")},
        {"a mode and the gamma",
         [](GAME_OPTIONS& o) {
             SetScreenMode(o, 13);
             o.Gamma = PositionToGamma(55);
         },
         Replace(Replace(Replace(Replace(Replace(kScreenIni, "Width=1280", "Width=1360"),
                                         "Height=960", "Height=768"),
                                 "Red=5", "Red=8"),
                         "Green=5", "Green=8"),
                 "Blue=5", "Blue=8"),
         Replace(kParamDat, "Gamma=1.0", "GAMMA=1.100000")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Write(kScreenIni, kParamDat);
        ASSERT_TRUE(OpenEditSave(c.edit));
        EXPECT_EQ(Screen(), c.screen);
        EXPECT_EQ(Param(), c.param);
    }

    // Values the dialog does not offer are shown as the nearest entry and
    // stay in the file while the player leaves them alone.
    const std::string odd =
        "[Screen]\nWidth=1920\nHeight=1080\nFullScreen=2\nRed=8\nGreen=8\n"
        "Blue=8\n";
    const std::string oddParam =
        "[PARAM]\nTextureQuality=7\nLOD=-1\nEffectQuality=9\n"
        "ShadowON=4\nBlurState=1\nFogState=1\nMapSpecular=1\nGamma=3.5\n";
    Write(odd, oddParam);
    const GAME_OPTIONS shown = LoadGameOptions(m_dir.path());
    EXPECT_EQ(shown.FullScreen, 1);
    EXPECT_EQ(shown.TextureQuality, 2);
    EXPECT_EQ(shown.LOD, 0);
    EXPECT_EQ(shown.EffectQuality, 3);
    EXPECT_EQ(shown.ShadowON, 1);
    EXPECT_EQ(GammaToPosition(shown.Gamma), 100);
    EXPECT_EQ(NearestScreenMode(shown), 19);
    ASSERT_TRUE(OpenEditSave([](GAME_OPTIONS& o) {
        o.FullScreen = 0;  // toggled twice: as it was
        o.FullScreen = 1;
    }));
    EXPECT_EQ(Screen(), odd);
    EXPECT_EQ(Param(), oddParam);
    ASSERT_TRUE(OpenEditSave([](GAME_OPTIONS& o) {
        o.FullScreen = 0;
        o.EffectQuality = 1;
    }));
    EXPECT_EQ(Screen(), Replace(odd, "FullScreen=2", "FullScreen=0"));
    EXPECT_EQ(Param(), Replace(oddParam, "EffectQuality=9", "EffectQuality=1"));

    // Missing keys are added with their defaults; the player's other keys
    // stay.
    Write("[Screen]\nGamma=9\n", "; the game's own\n[Sound]\nVolume=3\n");
    ASSERT_TRUE(OpenEditSave([](GAME_OPTIONS&) {}));
    EXPECT_EQ(Screen(),
              "[Screen]\nGamma=9\nWidth=1024\nHeight=768\nFullScreen=1\nRed=8\nGreen=8\nBlue=8\n");
    EXPECT_EQ(Param(),
              "; the game's own\n[Sound]\nVolume=3\n[PARAM]\nTextureQuality=0\nLOD=2\n"
              "EffectQuality=0\nShadowON=1\nBlurState=1\nFogState=1\nMapSpecular=1\n"
              "GAMMA=1.000000\n");
}

TEST_F(GameOptionsTest, FilesAreFoundWithoutRegardToLetterCase) {
    TempDir::WriteFile(m_dir / "3DSETUP.INI", "[SCREEN]\nwidth=800\nHEIGHT=600\n");
    TempDir::WriteFile(m_dir / "gamedata.DAT", "[param]\nlod=1\n");
    const GAME_OPTIONS loaded = LoadGameOptions(m_dir.path());
    EXPECT_EQ(loaded.szScreenFile, m_dir / "3DSETUP.INI");
    EXPECT_EQ(FindScreenMode(loaded), 3);
    EXPECT_EQ(loaded.LOD, 1);
    GAME_OPTIONS edited = loaded;
    edited.LOD = 0;
    ASSERT_TRUE(SaveGameOptions(m_dir.path(), edited, loaded, nullptr));
    EXPECT_FALSE(std::filesystem::exists(m_dir / kScreenSettingsFile)) << "no second file";
    EXPECT_FALSE(std::filesystem::exists(m_dir / kParamSettingsFile));
    EXPECT_NE(TempDir::ReadFile(m_dir / "gamedata.DAT").find("LOD=0"), std::string::npos);

    // The exact spelling wins over others; nothing found names the file
    // to create.
    std::filesystem::create_directory(m_dir / "screenshot");
    EXPECT_EQ(plat::FindNameNoCase(m_dir.path(), "ScreenShot"), m_dir / "screenshot");
    std::filesystem::create_directory(m_dir / "ScreenShot");
    EXPECT_EQ(plat::FindNameNoCase(m_dir.path(), "ScreenShot"), m_dir / "ScreenShot");
    EXPECT_EQ(plat::FindNameNoCase(m_dir.path(), "Log"), m_dir / "Log");
}

TEST_F(GameOptionsTest, NumbersUseAPointUnderACommaLocale) {
    // A comma locale, built privately when the system has none.
    TempDir locales;
    const char* names[] = {"de_DE.UTF-8", "fr_FR.UTF-8"};
    const char* chosen = nullptr;
    for (const char* name : names)
        if (!chosen && setlocale(LC_NUMERIC, name))
            chosen = name;
    if (chosen == nullptr) {
        const std::string build =
            "localedef -i de_DE -f UTF-8 '" + (locales / "de_DE.UTF-8") + "' >/dev/null 2>&1";
        if (std::system(build.c_str()) == 0) {
            setenv("LOCPATH", locales.path().c_str(), 1);
            if (setlocale(LC_NUMERIC, "de_DE.UTF-8"))
                chosen = "de_DE.UTF-8";
        }
    }
    if (chosen == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma (locales and localedef missing)";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5") << "the locale is in effect";

    Write("", "[PARAM]\nGamma=1.5\n");
    EXPECT_EQ(GammaToPosition(LoadGameOptions(m_dir.path()).Gamma), 75);
    const bool saved = OpenEditSave([](GAME_OPTIONS& o) { o.Gamma = PositionToGamma(80); });
    setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    ASSERT_TRUE(saved);
    EXPECT_NE(Param().find("GAMMA=1.600000"), std::string::npos) << Param();
}

TEST_F(GameOptionsTest, AFileThatCannotBeReplacedKeepsItsOldContents) {
    Write(kScreenIni, kParamDat);
    // A read-only file is made writable when the dialog opens...
    plat::SetReadOnly(m_dir / kParamSettingsFile, true);
    GAME_OPTIONS loaded = LoadGameOptions(m_dir.path());
    EXPECT_FALSE(plat::IsReadOnly(m_dir / kParamSettingsFile));
    // ...but one made read-only while it is open is not replaced; the
    // other file is still saved.
    plat::SetReadOnly(m_dir / kParamSettingsFile, true);
    GAME_OPTIONS edited = loaded;
    edited.Width = 800;
    edited.LOD = 1;
    GameOptionsSaveError error;
    EXPECT_FALSE(SaveGameOptions(m_dir.path(), edited, loaded, &error));
    EXPECT_EQ(error.file, m_dir / kParamSettingsFile);
    EXPECT_EQ(error.error, 5u);
    EXPECT_EQ(Param(), kParamDat);
    EXPECT_NE(Screen().find("Width=800"), std::string::npos);

    // A disk that takes no more bytes (here: a file size limit): the old
    // file stays whole and no temporary file is left beside it.
    plat::SetReadOnly(m_dir / kParamSettingsFile, false);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit tiny = old;
    tiny.rlim_cur = 16;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool saved = OpenEditSave([](GAME_OPTIONS& o) { o.EffectQuality = 0; }, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(Param(), kParamDat);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(m_dir.path()))
        entries += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 2) << "no temporary file left";
}
