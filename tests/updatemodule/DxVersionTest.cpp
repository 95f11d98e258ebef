// The DirectX check: the version record of Windows images (made here, some
// of them damaged, and Wine's own where Wine is installed), the inference
// table, and the check against fake Wine prefixes.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

#include "ModuleTestDir.h"
#include "engine/FileUpdater.h"
#include "platform/Error.h"
#include "support/PeWriter.h"
#include "updatemodule/DxVersion.h"
#include "updatemodule/PeImage.h"

using varntest::FileVersion;
using varntest::MakePe;
using varntest::PeFile;
using varntest::PeLayout;

namespace {

std::string Text(const DxVersion& v) {
    char text[10] = "?";
    FormatDxVersion(v.major, v.minor, v.letter, text, sizeof(text));
    return text;
}

// The image's facts as the reader gives them; version 0 when it has none.
struct ImageRead {
    bool open;
    bool is64;
    bool builtin;
    bool hasVersion;
    uint64_t version;
};
ImageRead ReadImage(const std::string& bytes) {
    const CPeMemorySource source(bytes.data(), bytes.size());
    CPeImage image;
    ImageRead r{image.Open(source), image.Is64(), image.IsWineBuiltin(), false, 0};
    r.hasVersion = image.FixedFileVersion(r.version);
    return r;
}

}  // namespace

TEST(PeImageTest, ReadsTheVersionRecordOf32And64BitImages) {
    const uint64_t version = FileVersion(5, 3, 1, 904);
    for (bool is64 : {false, true})
        for (bool builtin : {false, true}) {
            const ImageRead r = ReadImage(MakePe({is64, builtin, version}).bytes);
            EXPECT_TRUE(r.open && r.hasVersion) << is64 << builtin;
            EXPECT_EQ(r.version, version);
            EXPECT_EQ(r.is64, is64);
            EXPECT_EQ(r.builtin, builtin);
        }
    const ImageRead bare = ReadImage(MakePe({true, true, std::nullopt}).bytes);
    EXPECT_TRUE(bare.open && bare.is64 && bare.builtin);
    EXPECT_FALSE(bare.hasVersion) << "an image without resources has no record";
}

TEST(PeImageTest, DamagedImagesHaveNoVersionRecordAndNeverCrash) {
    constexpr uint32_t kHigh = 0x80000000u;
    struct Case {
        const char* name;
        std::function<void(PeFile&)> damage;
        bool opens;
    };
    const Case cases[] = {
        {"DOS header cut", [](PeFile& f) { f.bytes.resize(63); }, false},
        {"PE header cut", [](PeFile& f) { f.bytes.resize(0x80 + 10); }, false},
        {"section table cut", [](PeFile& f) { f.bytes.resize(f.sectionRawSize); }, false},
        {"record cut", [](PeFile& f) { f.bytes.resize(f.versionInfo + 50); }, true},
        {"PE offset past the end", [](PeFile& f) { f.Put32(f.peOffsetField, 0xFFFFFFF0u); }, false},
        {"no PE signature", [](PeFile& f) { f.bytes[0x81] = 'X'; }, false},
        {"unknown optional header", [](PeFile& f) { f.Put16(0x98, 0x107); }, false},
        {"too many sections", [](PeFile& f) { f.Put16(f.sectionCount, 0xFFFF); }, false},
        {"optional header past the end", [](PeFile& f) { f.Put16(f.optionalSize, 0xFFFF); }, false},
        {"no resource slot", [](PeFile& f) { f.Put32(f.dirCount, 2); }, true},
        {"resource outside every section", [](PeFile& f) { f.Put32(f.resourceRva, 0xFFFFFFF0u); },
         true},
        {"raw data past the end", [](PeFile& f) { f.Put32(f.sectionRawOffset, 0xFFFFFF00u); },
         true},
        {"record running past the end of a section claiming 4 GB",
         [](PeFile& f) {
             f.Put32(f.sectionRawSize, 0xFFFFFFFFu);
             f.Put32(f.dataEntry + 4, 0x7FFFFFFFu);
         },
         true},
        {"language entry back at the root", [&](PeFile& f) { f.Put32(f.langEntry + 4, kHigh | 0); },
         true},
        {"type entry pointing at its own directory",
         [&](PeFile& f) { f.Put32(f.versionTypeEntry + 4, kHigh | 0); }, true},
        {"entry counts past the section",
         [](PeFile& f) {
             f.Put16(f.typeDir + 12, 0xFFFF);
             f.Put16(f.typeDir + 14, 0xFFFF);
         },
         true},
        {"entry offset overflowing", [](PeFile& f) { f.Put32(f.langEntry + 4, 0x7FFFFFFFu); },
         true},
        {"record address wrapping", [](PeFile& f) { f.Put32(f.dataEntry, 0xFFFFFFF0u); }, true},
        {"record size past the section", [](PeFile& f) { f.Put32(f.dataEntry + 4, 0xFFFFFFFFu); },
         true},
        {"record shorter than its head", [](PeFile& f) { f.Put32(f.dataEntry + 4, 40); }, true},
        {"length beyond the record", [](PeFile& f) { f.Put16(f.versionInfo, 0xFFFF); }, true},
        {"value too short", [](PeFile& f) { f.Put16(f.versionInfo + 2, 20); }, true},
        {"wrong key", [](PeFile& f) { f.bytes[f.versionInfo + 8] = 'X'; }, true},
        {"wrong signature", [](PeFile& f) { f.Put32(f.fixedInfo, 0); }, true},
    };
    for (bool is64 : {false, true})
        for (const Case& c : cases) {
            PeFile f = MakePe({is64, false, FileVersion(9, 9, 9, 9)});
            c.damage(f);
            const ImageRead r = ReadImage(f.bytes);
            EXPECT_EQ(r.open, c.opens) << c.name << (is64 ? " (64-bit)" : "");
            EXPECT_FALSE(r.hasVersion) << c.name << (is64 ? " (64-bit)" : "");
        }
}

using DxModuleTest = ModuleTest;

TEST_F(DxModuleTest, ReadFileVersionReadsFilesAndReportsWhyNot) {
    Write(Path("good.dll"), MakePe({false, false, FileVersion(4, 9, 0, 904)}).bytes);
    Write(Path("plain.txt"), "MZ but nothing more");
    std::filesystem::create_directory(Path("dir.dll"));
    uint64_t v = 0;
    ASSERT_EQ(ReadFileVersion(Path("good.dll").c_str(), &v), 1);
    EXPECT_EQ(v, FileVersion(4, 9, 0, 904));
    for (const char* name : {"missing.dll", "plain.txt", "dir.dll"}) {
        EXPECT_EQ(ReadFileVersion(Path(name).c_str(), &v), 0) << name;
        EXPECT_EQ(plat::GetLastError(), plat::ERROR_GEN_FAILURE_CODE) << name;
    }
    EXPECT_EQ(ReadFileVersion(nullptr, &v), 0);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_PARAMETER_CODE);
    EXPECT_EQ(ReadFileVersion(Path("good.dll").c_str(), nullptr), 0);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_PARAMETER_CODE);
}

TEST(DxVersionTest, InferenceTableLastMatchingRowWins) {
    using Files = std::map<std::string, uint64_t>;
    const auto v = FileVersion;
    const std::pair<Files, const char*> cases[] = {
        {{}, "0.0"},
        {{{"ddraw.dll", v(4, 2, 0, 94)}}, "0.0"},
        {{{"ddraw.dll", v(4, 2, 0, 95)}}, "1.0"},
        {{{"d3drg8x.dll", v(4, 4, 0, 70)}}, "3.0a"},
        {{{"ddraw.dll", v(4, 7, 0, 700)}, {"dinput.dll", v(4, 7, 0, 716)}}, "7.0a"},
        // The first-number rows apply only to files of that first number.
        {{{"ddraw.dll", v(4, 9, 0, 0)}}, "8.0"},
        {{{"ddraw.dll", v(6, 0, 0, 0)}}, "7.0"},
        {{{"ddraw.dll", v(5, 1, 2258, 399)}}, "7.0"},
        {{{"ddraw.dll", v(5, 1, 2258, 400)}}, "8.0"},
        {{{"d3d8.dll", v(5, 1, 2600, 881)}}, "8.1"},
        {{{"d3d8.dll", v(4, 8, 1, 901)}}, "8.1a"},
        // dplayx asks for both halves separately: a newer high half does
        // not make up for an older low half.
        {{{"dplayx.dll", v(4, 6, 3, 518)}}, "6.1a"},
        {{{"dplayx.dll", v(4, 7, 0, 700)}}, "0.0"},
        {{{"mpg2splt.ax", v(6, 3, 1, 885)}, {"ddraw.dll", v(4, 7, 0, 700)}}, "8.1b"},
        {{{"dpnet.dll", v(4, 9, 0, 134)}}, "8.2"},
        {{{"dpnet.dll", v(5, 2, 3677, 134)}, {"d3d9.dll", v(1, 0, 0, 0)}}, "9.0"},
    };
    for (const auto& [files, want] : cases) {
        const DxVersion found = InferDxVersion([&files = files](const char* name) {
            PeFileFacts facts;
            const auto it = files.find(name);
            facts.hasVersion = it != files.end();
            facts.version = facts.hasVersion ? it->second : 0;
            return facts;
        });
        std::string described;
        for (const auto& [name, version] : files)
            described += name + " ";
        EXPECT_EQ(Text(found), want) << described;
    }

    // Wine's libraries as Wine 8 ships them: all builtin; only d3d9's mark
    // lifts the result past 9.0, and it needs no version record to do so.
    const std::map<std::string, uint64_t> wine = {
        {"ddraw.dll", v(5, 3, 1, 904)},     {"d3d8.dll", v(5, 3, 1, 904)},
        {"dinput.dll", v(5, 1, 2600, 881)}, {"dplayx.dll", v(5, 3, 1, 904)},
        {"dpnet.dll", v(5, 3, 0, 900)},     {"d3d9.dll", v(5, 3, 1, 904)}};
    auto wineProbe = [&](bool withD3d9Version, bool d3d9Builtin) {
        return InferDxVersion([&](const char* name) {
            PeFileFacts facts;
            const auto it = wine.find(name);
            if (it != wine.end()) {
                const bool d3d9 = it->first == "d3d9.dll";
                facts.wineBuiltin = !d3d9 || d3d9Builtin;
                facts.hasVersion = !d3d9 || withD3d9Version;
                facts.version = it->second;
            }
            return facts;
        });
    };
    EXPECT_EQ(Text(wineProbe(true, true)), "9.0c");
    EXPECT_EQ(Text(wineProbe(false, true)), "9.0c");
    EXPECT_EQ(Text(wineProbe(true, false)), "9.0") << "a native d3d9 shows only 9.0";
    EXPECT_EQ(Text(wineProbe(false, false)), "8.2");
}

TEST(DxVersionTest, PackedAndTextForms) {
    EXPECT_EQ(PackDxVersion(9, 0, 'c'), 0x00090003u);
    EXPECT_EQ(PackDxVersion(8, 1, ' '), 0x00080100u);
    EXPECT_EQ(PackDxVersion(8, 1, 'B'), 0x00080100u) << "only lower-case letters count";
    EXPECT_EQ(PackDxVersion(0, 0, ' '), 0u);
    char text[10] = "untouched";
    FormatDxVersion(9, 0, 'c', text, 0);
    EXPECT_STREQ(text, "untouched");
    FormatDxVersion(9, 0, 'c', text, 3);
    EXPECT_STREQ(text, "9.");
    FormatDxVersion(4294967295u, 4294967295u, 'z', text, sizeof(text));
    EXPECT_STREQ(text, "429496729") << "cut to the buffer";

    uint32_t packed = 7;
    EXPECT_EQ(DetectDxVersion("", &packed, text, sizeof(text)), 1);
    EXPECT_EQ(packed, 0u);
    EXPECT_STREQ(text, "0.0");
    EXPECT_EQ(DetectDxVersion("", nullptr, text, sizeof(text)), 0);
    EXPECT_STREQ(text, "");
}

// Where Debian's Wine is installed, its own libraries are read as they are.
TEST(PeImageTest, ReadsWinesOwnLibrariesWhereWineIsInstalled) {
    const std::pair<const char*, bool> dirs[] = {
        {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", true},
        {"/usr/lib/i386-linux-gnu/wine/i386-windows", false},
        {"/usr/lib/x86_64-linux-gnu/wine/i386-windows", false}};
    int seen = 0;
    for (const auto& [dir, is64] : dirs) {
        const std::string d3d9 = std::string(dir) + "/d3d9.dll";
        if (!std::filesystem::exists(d3d9))
            continue;
        ++seen;
        const PeFileFacts facts = ReadPeFileFacts(d3d9);
        EXPECT_TRUE(facts.isImage && facts.wineBuiltin && facts.hasVersion) << d3d9;
        EXPECT_EQ(facts.is64, is64) << d3d9;
        uint32_t major = 0, minor = 0;
        char letter = '?';
        ASSERT_EQ(InferDxVersionFromFiles(dir, &major, &minor, &letter), 1);
        EXPECT_EQ(Text({major, minor, letter}), "9.0c") << dir;
    }
    if (seen == 0)
        GTEST_SKIP() << "Wine's libraries are not installed";
}

namespace {

class DxCheckTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        const char* outer = getenv("WINEPREFIX");
        m_outerPrefix = outer ? std::optional<std::string>(outer) : std::nullopt;
        setenv("WINEPREFIX", Path("wine").c_str(), 1);
        module = std::make_unique<CUpdateModule>();
        module->SetUpdatePath(m_dir.c_str());
        module->SetParentProgamName("Varngame.exe");
    }
    void TearDown() override {
        module.reset();
        if (m_outerPrefix)
            setenv("WINEPREFIX", m_outerPrefix->c_str(), 1);
        else
            unsetenv("WINEPREFIX");
        ModuleTest::TearDown();
    }
    // A library of the prefix's system32 (or syswow64).
    void Library(const std::string& dir, const std::string& name, const PeLayout& layout) {
        Write(Path("wine/drive_c/windows/" + dir + "/" + name), MakePe(layout).bytes);
    }
    // The check's result, the installed version, the directory it read
    // (relative to the prefix) and, when refused, its custom error code and
    // message.
    // Inspecting finds the same and records nothing.
    std::string Check() {
        g_UpdateLogger.SetLastErrorMsg(ERROR_KIND_NONE, 0, nullptr, 0);
        char installed[10], prefix[260], dir[260];
        const int inspected = module->InspectDXVersion("9.0c", installed, prefix, dir);
        EXPECT_EQ(CUpdaterBase::GetLastErrorKind(), ERROR_KIND_NONE);
        const int ok = module->CheckDXVersion("9.0c");
        EXPECT_EQ(inspected, ok);
        EXPECT_EQ(std::string(prefix), Path("wine"));
        std::string where = dir;
        if (where.rfind(prefix, 0) == 0)
            where = where.substr(std::string(prefix).size());
        return std::to_string(ok) + " " + installed + " " + where +
               (ok ? ""
                   : " " + std::to_string(CUpdaterBase::GetLastCustomErrorCode()) + " " +
                         module->GetLastErrorMsg());
    }

    std::unique_ptr<CUpdateModule> module;
    std::optional<std::string> m_outerPrefix;
};

}  // namespace

TEST_F(DxCheckTest, WinePrefixesPassRefuseAndAreReadForTheGamesWidth) {
    const uint64_t wine = FileVersion(5, 3, 1, 904);
    // Not set up yet: Wine will set it up with its own DirectX.
    EXPECT_EQ(Check(), "1  ");
    std::filesystem::create_directories(Path("wine/drive_c/windows/system32"));
    EXPECT_EQ(Check(),
              "0  /drive_c/windows/system32 1402 No DirectX installation was found (DirectX "
              "9.0c is required).");
    Library("system32", "d3d9.dll", {true, false, wine});
    EXPECT_EQ(Check(),
              "0 9.0 /drive_c/windows/system32 1403 DirectX 9.0 is installed, but DirectX 9.0c "
              "is required.");
    Library("system32", "d3d9.dll", {true, true, wine});
    EXPECT_EQ(Check(), "1 9.0c /drive_c/windows/system32");

    // A 64-bit prefix: a 32-bit game (or one that cannot be read) finds
    // its libraries in syswow64, a 64-bit game in system32.
    std::filesystem::create_directories(Path("wine/drive_c/windows/syswow64"));
    EXPECT_EQ(Check().substr(0, 29), "0  /drive_c/windows/syswow64 ");
    Write(Path("Varngame.exe"), MakePe({false, false, FileVersion(1, 0, 0, 4)}).bytes);
    EXPECT_EQ(Check().substr(0, 29), "0  /drive_c/windows/syswow64 ");
    Write(Path("Varngame.exe"), MakePe({true, false, FileVersion(1, 0, 0, 4)}).bytes);
    EXPECT_EQ(Check(), "1 9.0c /drive_c/windows/system32");
    Write(Path("Varngame.exe"), MakePe({false, false, FileVersion(1, 0, 0, 4)}).bytes);
    Library("syswow64", "d3d9.dll", {false, true, wine});
    EXPECT_EQ(Check(), "1 9.0c /drive_c/windows/syswow64");
}

TEST_F(DxCheckTest, TheTypeFileMayNameThePrefixInsideTheGameDirectory) {
    char plain[260];
    CUpdaterBase::GetPlainTypePath(plain, sizeof(plain));
    Write(plain, "[SETUP]\r\nWINEPREFIX=wine\r\n");
    setenv("WINEPREFIX", Path("elsewhere").c_str(), 1);
    Library("system32", "d3d9.dll", {true, true, FileVersion(5, 3, 1, 904)});
    EXPECT_EQ(Check(), "1 9.0c /drive_c/windows/system32");
}
