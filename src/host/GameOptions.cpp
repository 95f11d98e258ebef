#include "host/GameOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <type_traits>
#include <vector>

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Profile.h"

namespace {

constexpr const char* kScreenSection = "Screen";
constexpr const char* kParamSection = "PARAM";
// One key: profile keys ignore case, so "GAMMA" written by an earlier save
// is read back through "Gamma".
constexpr const char* kGammaReadKey = "Gamma";
constexpr const char* kGammaKey = "GAMMA";
constexpr const char* kDefaultGammaText = "1.0";
// The gamma is read as text of at most 49 characters.
constexpr unsigned kGammaTextBuffer = 50;

template <auto Member>
int Get(const GAME_OPTIONS& o) {
    return static_cast<int>(o.*Member);
}
template <auto Member>
void Set(GAME_OPTIONS& o, int value) {
    using Field = std::remove_reference_t<decltype(o.*Member)>;
    o.*Member = static_cast<Field>(value);
}

// One integer key: its file, name, the range its field holds, and the
// field. Values read outside the range are held as the nearest in it.
struct IntKey {
    bool screenFile;
    const char* name;
    int min;
    int max;
    int (*get)(const GAME_OPTIONS&);
    void (*set)(GAME_OPTIONS&, int);
};
template <auto Member>
constexpr IntKey Key(bool screenFile, const char* name, int min, int max) {
    return {screenFile, name, min, max, &Get<Member>, &Set<Member>};
}

// In the order the keys are written (and added to a file that lacks them).
const IntKey kIntKeys[] = {
    Key<&GAME_OPTIONS::Width>(true, "Width", INT16_MIN, INT16_MAX),
    Key<&GAME_OPTIONS::Height>(true, "Height", INT16_MIN, INT16_MAX),
    Key<&GAME_OPTIONS::FullScreen>(true, "FullScreen", 0, 1),
    Key<&GAME_OPTIONS::Red>(true, "Red", 0, UINT8_MAX),
    Key<&GAME_OPTIONS::Green>(true, "Green", 0, UINT8_MAX),
    Key<&GAME_OPTIONS::Blue>(true, "Blue", 0, UINT8_MAX),
    Key<&GAME_OPTIONS::TextureQuality>(false, "TextureQuality", 0, kQualityLevels - 1),
    Key<&GAME_OPTIONS::LOD>(false, "LOD", 0, kQualityLevels - 1),
    Key<&GAME_OPTIONS::EffectQuality>(false, "EffectQuality", 0, kEffectLevels - 1),
    Key<&GAME_OPTIONS::ShadowON>(false, "ShadowON", 0, 1),
    Key<&GAME_OPTIONS::BlurState>(false, "BlurState", 0, 1),
    Key<&GAME_OPTIONS::FogState>(false, "FogState", 0, 1),
    Key<&GAME_OPTIONS::MapSpecular>(false, "MapSpecular", 0, 1),
};

const char* SectionOf(const IntKey& key) {
    return key.screenFile ? kScreenSection : kParamSection;
}

int DepthOf(const GAME_OPTIONS& o) {
    return o.Red == 5 && o.Green == 5 && o.Blue == 5 ? 16 : 24;
}

bool HasExactDepth(const GAME_OPTIONS& o) {
    const bool all5 = o.Red == 5 && o.Green == 5 && o.Blue == 5;
    const bool all8 = o.Red == 8 && o.Green == 8 && o.Blue == 8;
    return all5 || all8;
}

// The C library's text-to-double conversion (leading blanks, a sign, as
// many characters as form a number, 0 when none do), but with "." as the
// decimal point whatever the locale: the game's files are shared across
// machines.
double ParseDecimal(const std::string& text) {
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end && (*p == ' ' || *p == '\t')) {
        ++p;
    }
    if (p + 1 < end && p[0] == '+' && p[1] != '-' && p[1] != '+') {
        ++p;
    }
    double value = 0;
    const std::from_chars_result r = std::from_chars(p, end, value);
    if (r.ec == std::errc::result_out_of_range) {
        return HUGE_VAL;  // not finite: held as the default
    }
    return r.ec == std::errc{} ? value : 0.0;
}

std::string FormatGamma(float gamma) {
    char buf[64];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(gamma),
                                                 std::chars_format::fixed, 6);
    return r.ec == std::errc{} ? std::string(buf, r.ptr) : kDefaultGammaText;
}

// The writes one file needs: keys that changed, and keys it lacks.
std::vector<plat::ProfileWrite> WritesFor(bool screenFile, const std::string& path,
                                          const GAME_OPTIONS& edited, const GAME_OPTIONS& loaded) {
    std::string text;
    if (!plat::ReadWholeFile(path, text)) {
        text.clear();  // missing: every key is written (and the file made)
    }
    const plat::ProfileText present(text);
    std::vector<plat::ProfileWrite> writes;
    for (const IntKey& key : kIntKeys) {
        if (key.screenFile != screenFile) {
            continue;
        }
        const int value = key.get(edited);
        if (value != key.get(loaded) || present.Find(SectionOf(key), key.name) == nullptr) {
            writes.push_back({SectionOf(key), key.name, std::to_string(value)});
        }
    }
    if (!screenFile &&
        (edited.Gamma != loaded.Gamma || present.Find(kParamSection, kGammaKey) == nullptr)) {
        writes.push_back({kParamSection, kGammaKey, FormatGamma(edited.Gamma)});
    }
    return writes;
}

}  // namespace

std::string ScreenModeText(const ScreenMode& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "x" +
           std::to_string(mode.bits);
}

int FindScreenMode(const GAME_OPTIONS& options) {
    if (!HasExactDepth(options)) {
        return -1;
    }
    for (size_t i = 0; i < kScreenModes.size(); ++i) {
        const ScreenMode& m = kScreenModes[i];
        if (m.width == options.Width && m.height == options.Height && m.bits == DepthOf(options)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int NearestScreenMode(const GAME_OPTIONS& options) {
    const int exact = FindScreenMode(options);
    if (exact >= 0) {
        return exact;
    }
    const int depth = DepthOf(options);
    int best = -1;
    long bestDistance = 0;
    for (size_t i = 0; i < kScreenModes.size(); ++i) {
        const ScreenMode& m = kScreenModes[i];
        if (m.bits != depth) {
            continue;
        }
        const long distance =
            std::labs(long{m.width} - options.Width) + std::labs(long{m.height} - options.Height);
        if (best < 0 || distance < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    return best;
}

void SetScreenMode(GAME_OPTIONS& options, int index) {
    if (index < 0 || index >= static_cast<int>(kScreenModes.size())) {
        return;
    }
    const ScreenMode& m = kScreenModes[static_cast<size_t>(index)];
    const uint8_t bits = m.bits == 16 ? 5 : 8;
    options.Width = m.width;
    options.Height = m.height;
    options.Red = options.Green = options.Blue = bits;
}

int GammaToPosition(float gamma) {
    if (!std::isfinite(gamma)) {
        return kGammaPositions / 2;
    }
    const double position = std::round(static_cast<double>(gamma) * 50.0);
    return static_cast<int>(std::clamp(position, 0.0, static_cast<double>(kGammaPositions)));
}

float PositionToGamma(int position) {
    return static_cast<float>(std::clamp(position, 0, kGammaPositions) * 0.02);
}

std::string GammaText(int position) {
    char buf[16];
    const std::to_chars_result r =
        std::to_chars(buf, buf + sizeof buf, static_cast<double>(PositionToGamma(position)),
                      std::chars_format::fixed, 2);
    return std::string(buf, r.ptr);
}

void ResetGameOptions(GAME_OPTIONS& options) {
    GAME_OPTIONS defaults;
    defaults.szScreenFile = std::move(options.szScreenFile);
    defaults.szParamFile = std::move(options.szParamFile);
    options = std::move(defaults);
}

GAME_OPTIONS LoadGameOptions(const std::string& dir) {
    GAME_OPTIONS options;
    options.szScreenFile = plat::FindNameNoCase(dir, kScreenSettingsFile);
    options.szParamFile = plat::FindNameNoCase(dir, kParamSettingsFile);
    for (const std::string* path : {&options.szScreenFile, &options.szParamFile}) {
        if (plat::IsReadOnly(*path)) {
            plat::SetReadOnly(*path, false);
        }
    }
    const GAME_OPTIONS defaults;
    for (const IntKey& key : kIntKeys) {
        const std::string& path = key.screenFile ? options.szScreenFile : options.szParamFile;
        const int value =
            plat::GetPrivateProfileInt(SectionOf(key), key.name, key.get(defaults), path.c_str());
        key.set(options, std::clamp(value, key.min, key.max));
    }
    char text[kGammaTextBuffer] = "";
    plat::GetPrivateProfileString(kParamSection, kGammaReadKey, kDefaultGammaText, text,
                                  sizeof text, options.szParamFile.c_str());
    const float gamma = static_cast<float>(ParseDecimal(text));
    options.Gamma = std::isfinite(gamma) ? gamma : defaults.Gamma;
    return options;
}

bool SaveGameOptions(const std::string& dir, const GAME_OPTIONS& edited, const GAME_OPTIONS& loaded,
                     GameOptionsSaveError* error) {
    bool ok = true;
    for (const bool screenFile : {true, false}) {
        const std::string path =
            plat::FindNameNoCase(dir, screenFile ? kScreenSettingsFile : kParamSettingsFile);
        const std::vector<plat::ProfileWrite> writes = WritesFor(screenFile, path, edited, loaded);
        if (writes.empty() || plat::WritePrivateProfileStrings(writes, path)) {
            continue;
        }
        if (ok && error != nullptr) {
            error->file = path;
            error->error = plat::GetLastError();
        }
        ok = false;
    }
    return ok;
}
