// The game client's screen and graphics settings: the record the options
// dialog edits, its two profile files in the game directory (shared with
// the game, which reads them), and the mapping between the dialog's
// controls and the values. Plain functions on a plain record, no window.
//
// Files: 3dsetup.ini [Screen] Width, Height, FullScreen, Red, Green, Blue;
// GameData.dat [PARAM] TextureQuality, LOD, EffectQuality, ShadowON,
// BlurState, FogState, MapSpecular, Gamma (read under any spelling,
// written as "GAMMA"). Integers are written with "%d", the gamma with
// "%0.6f", always with "." as the decimal point.
//
// Threads: any; the functions share no state. Two savers of the same
// directory at once are not coordinated (the last replacement wins).
#pragma once
#include <array>
#include <cstdint>
#include <string>

constexpr const char* kScreenSettingsFile = "3dsetup.ini";
constexpr const char* kParamSettingsFile = "GameData.dat";

// A default-constructed record holds the defaults of a missing key.
struct GAME_OPTIONS {
    int16_t Width = 1024;
    int16_t Height = 768;
    // Bits per colour: 5/5/5 is a 16-bit mode, 8/8/8 a 24-bit mode.
    uint8_t Red = 8;
    uint8_t Green = 8;
    uint8_t Blue = 8;
    uint8_t TextureQuality = 0;  // 0 high, 1 medium, 2 low
    uint8_t LOD = 2;             // 0 high, 1 medium, 2 low
    uint8_t EffectQuality = 0;   // 0 high, 1 medium, 2 low, 3 off
    uint8_t ShadowON = 1;
    int32_t BlurState = 1;    // glow
    int32_t FogState = 1;     // fog
    int32_t MapSpecular = 1;  // background effect
    int32_t FullScreen = 1;   // 1 full screen, 0 window
    float Gamma = 1.0f;
    // Where LoadGameOptions found (or would create) the two files.
    std::string szScreenFile;
    std::string szParamFile;
};

// Number of entries of the quality lists (TextureQuality and LOD) and of
// the effect list (EffectQuality).
constexpr int kQualityLevels = 3;
constexpr int kEffectLevels = 4;

// The screen modes the dialog offers, in its order.
struct ScreenMode {
    int16_t width;
    int16_t height;
    int bits;  // 16 or 24
};
inline constexpr std::array<ScreenMode, 20> kScreenModes{{
    {640, 480, 16},   {640, 480, 24},   {800, 600, 16},  {800, 600, 24},   {1024, 768, 16},
    {1024, 768, 24},  {1280, 768, 16},  {1280, 768, 24}, {1280, 960, 16},  {1280, 960, 24},
    {1280, 1024, 16}, {1280, 1024, 24}, {1360, 768, 16}, {1360, 768, 24},  {1440, 900, 16},
    {1440, 900, 24},  {1600, 900, 16},  {1600, 900, 24}, {1680, 1050, 16}, {1680, 1050, 24},
}};
// "640x480x16".
std::string ScreenModeText(const ScreenMode& mode);
// The entry whose size and colour depth the record holds exactly; -1 for
// a mode that is not in the list (another size, or colour bits that are
// neither all 5 nor all 8).
int FindScreenMode(const GAME_OPTIONS& options);
// The entry to show for the record: its own, else the nearest one (the
// smallest sum of the width and height differences, the first of equals;
// 16-bit when all colours are 5 bits, else 24-bit).
int NearestScreenMode(const GAME_OPTIONS& options);
// Width, height and colour bits of entry index (0..19).
void SetScreenMode(GAME_OPTIONS& options, int index);

// The gamma slider: positions 0..100 in steps of 5 for the arrow buttons;
// position = round(gamma x 50), gamma = position x 0.02, so 1.0 sits in the
// middle and a value saved and read back keeps its position.
constexpr int kGammaPositions = 100;
constexpr int kGammaStep = 5;
// Kept inside 0..kGammaPositions.
int GammaToPosition(float gamma);
float PositionToGamma(int position);
// The gamma of a position as the dialog shows it: "1.00", with "."
// whatever the locale.
std::string GammaText(int position);

// Every value back to its default; the file paths stay.
void ResetGameOptions(GAME_OPTIONS& options);

// Reads both files of dir, each found without regard to letter case (the
// game may have written "3DSetup.ini"); a read-only one is made writable
// first, so that the later save can replace it. Missing files and keys
// give the defaults. A value outside its range is held as the nearest
// valid one (a FullScreen of 2 is read as 1, a TextureQuality of 7 as 2);
// a gamma that is not a finite number as 1.0. Width, height and colour
// bits are held as the file has them (cut to their types), even when they
// name a mode the dialog does not offer.
GAME_OPTIONS LoadGameOptions(const std::string& dir);

// Why SaveGameOptions failed.
struct GameOptionsSaveError {
    std::string file;    // the file that could not be replaced
    uint32_t error = 0;  // Win32 code (plat::FormatMessageText)
};
// Writes `edited` into the files of dir (found as LoadGameOptions finds
// them, created when missing). A key is written when its value differs
// from `loaded` (what LoadGameOptions gave before the player made his
// changes) or when the file lacks it; a key the player left alone keeps the
// text the file has, so a value outside the dialog's range or a mode it
// does not offer is not replaced by what the dialog showed for it. Each
// file is built once and replaced at once, keeping the lines and keys it
// does not touch. On failure the failed file keeps its old contents and
// `error` (when given) says which and why; 3dsetup.ini is written first,
// and GameData.dat is still tried when it fails.
bool SaveGameOptions(const std::string& dir, const GAME_OPTIONS& edited, const GAME_OPTIONS& loaded,
                     GameOptionsSaveError* error);
