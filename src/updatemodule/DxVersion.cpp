// The DirectX version: its two forms, the inference table and the reading
// of the libraries' files.
#include "updatemodule/DxVersion.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Win32Types.h"
#include "updatemodule/PeImage.h"

namespace {

constexpr uint64_t V(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    return a << 48 | b << 32 | c << 16 | d;
}

enum class Condition {
    AtLeast,          // version >= a
    FirstNumber4or5,  // first number 4 and >= a, or first number 5 and >= b
    HighAndLow,       // high word >= a's, and low word >= a's
    AnyVersion,       // any readable version
    WineBuiltin,      // Wine's own library, with or without a version
};

struct Row {
    const char* file;
    Condition condition;
    uint64_t a;
    uint64_t b;
    DxVersion result;
};

// In order: a later match overrides an earlier one.
const Row kRows[] = {
    {"ddraw.dll", Condition::AtLeast, V(4, 2, 0, 95), 0, {1, 0, ' '}},
    {"ddraw.dll", Condition::AtLeast, V(4, 3, 0, 1096), 0, {2, 0, ' '}},
    {"ddraw.dll", Condition::AtLeast, V(4, 4, 0, 68), 0, {3, 0, ' '}},
    {"d3drg8x.dll", Condition::AtLeast, V(4, 4, 0, 70), 0, {3, 0, 'a'}},
    {"ddraw.dll", Condition::AtLeast, V(4, 5, 0, 155), 0, {5, 0, ' '}},
    {"ddraw.dll", Condition::AtLeast, V(4, 6, 0, 318), 0, {6, 0, ' '}},
    {"ddraw.dll", Condition::AtLeast, V(4, 6, 0, 436), 0, {6, 1, ' '}},
    {"dplayx.dll", Condition::HighAndLow, V(4, 6, 3, 518), 0, {6, 1, 'a'}},
    {"ddraw.dll", Condition::AtLeast, V(4, 7, 0, 700), 0, {7, 0, ' '}},
    {"dinput.dll", Condition::AtLeast, V(4, 7, 0, 716), 0, {7, 0, 'a'}},
    {"ddraw.dll", Condition::FirstNumber4or5, V(4, 8, 0, 400), V(5, 1, 2258, 400), {8, 0, ' '}},
    {"d3d8.dll", Condition::FirstNumber4or5, V(4, 8, 1, 881), V(5, 1, 2600, 881), {8, 1, ' '}},
    {"d3d8.dll", Condition::FirstNumber4or5, V(4, 8, 1, 901), V(5, 1, 2600, 901), {8, 1, 'a'}},
    {"mpg2splt.ax", Condition::AtLeast, V(6, 3, 1, 885), 0, {8, 1, 'b'}},
    {"dpnet.dll", Condition::FirstNumber4or5, V(4, 9, 0, 134), V(5, 2, 3677, 134), {8, 2, ' '}},
    {"d3d9.dll", Condition::AnyVersion, 0, 0, {9, 0, ' '}},
    // The rows above cannot see past 9.0: Wine's d3d9 implements 9.0c.
    {"d3d9.dll", Condition::WineBuiltin, 0, 0, {9, 0, 'c'}},
};

bool Matches(const Row& row, const PeFileFacts& facts) {
    if (row.condition == Condition::WineBuiltin) {
        return facts.wineBuiltin;
    }
    if (!facts.hasVersion) {
        return false;
    }
    const uint64_t v = facts.version;
    switch (row.condition) {
        case Condition::AtLeast:
            return v >= row.a;
        case Condition::FirstNumber4or5:
            return (v >> 48 == 4 && v >= row.a) || (v >> 48 == 5 && v >= row.b);
        case Condition::HighAndLow:
            return v >> 32 >= row.a >> 32 && (v & 0xFFFFFFFFu) >= (row.a & 0xFFFFFFFFu);
        case Condition::AnyVersion:
            return true;
        case Condition::WineBuiltin:
            break;
    }
    return false;
}

// A file read through the platform's stream helpers.
class CFileSource : public CPeSource {
public:
    explicit CFileSource(std::FILE* f) : m_file(f) {
        if (!plat::StreamLength(f, m_size)) {
            m_size = 0;
        }
    }
    uint64_t Size() const override { return m_size; }
    bool Read(uint64_t offset, void* out, size_t size) const override {
        return offset <= m_size && size <= m_size - offset && plat::SeekStream(m_file, offset) &&
               std::fread(out, 1, size, m_file) == size;
    }

private:
    std::FILE* m_file;
    uint64_t m_size = 0;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Opens a regular file (links followed) for reading; a FIFO or device
// under a library's name must not block or feed the reader.
std::unique_ptr<std::FILE, FileCloser> OpenRegularFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return nullptr;
    }
    return std::unique_ptr<std::FILE, FileCloser>(std::fopen(path.c_str(), "rb"));
}

}  // namespace

uint32_t PackDxVersion(uint32_t major, uint32_t minor, char letter) {
    uint32_t packed = (major * 256 + minor) * 256;
    if (letter >= 'a' && letter <= 'z') {
        packed += static_cast<uint32_t>(letter - 'a' + 1);
    }
    return packed;
}

void FormatDxVersion(uint32_t major, uint32_t minor, char letter, char* text, int capacity) {
    if (text == nullptr || capacity < 1) {
        return;
    }
    const size_t size = static_cast<size_t>(capacity);
    if (letter == ' ') {
        std::snprintf(text, size, "%u.%u", major, minor);
    } else {
        std::snprintf(text, size, "%u.%u%c", major, minor, letter);
    }
}

DxVersion InferDxVersion(const DxLibraryProbe& probe) {
    DxVersion result;
    const char* probed = nullptr;
    PeFileFacts facts;
    for (const Row& row : kRows) {
        // Rows of one file often follow each other: read it once for them.
        if (probed == nullptr || std::string(probed) != row.file) {
            facts = probe(row.file);
            probed = row.file;
        }
        if (Matches(row, facts)) {
            result = row.result;
        }
    }
    return result;
}

PeFileFacts ReadPeFileFacts(const std::string& path) {
    PeFileFacts facts;
    const auto file = OpenRegularFile(path);
    if (!file) {
        return facts;
    }
    const CFileSource source(file.get());
    CPeImage image;
    if (image.Open(source)) {
        facts.isImage = true;
        facts.is64 = image.Is64();
        facts.wineBuiltin = image.IsWineBuiltin();
        facts.hasVersion = image.FixedFileVersion(facts.version);
    }
    return facts;
}

int QueryDxDiagVersion(uint32_t* /*major*/, uint32_t* /*minor*/, char* /*letter*/) {
    plat::SetLastError(plat::ERROR_NOT_SUPPORTED_CODE);
    return 0;
}

int InferDxVersionFromFiles(const char* systemDir, uint32_t* major, uint32_t* minor, char* letter) {
    if (major == nullptr || minor == nullptr || letter == nullptr) {
        plat::SetLastError(plat::ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    DxVersion found;
    if (systemDir != nullptr && systemDir[0] != '\0') {
        const std::string dir = systemDir;
        found = InferDxVersion(
            [&dir](const char* name) { return ReadPeFileFacts(plat::JoinPath(dir, name)); });
    }
    *major = found.major;
    *minor = found.minor;
    *letter = found.letter;
    return 1;
}

int ReadFileVersion(const char* path, uint64_t* version) {
    if (path == nullptr || version == nullptr) {
        plat::SetLastError(plat::ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    try {
        const PeFileFacts facts = ReadPeFileFacts(path);
        if (!facts.hasVersion) {
            plat::SetLastError(plat::ERROR_GEN_FAILURE_CODE);
            return 0;
        }
        *version = facts.version;
        return 1;
    } catch (const std::bad_alloc&) {
        plat::SetLastError(plat::ERROR_NOT_ENOUGH_MEMORY_CODE);
        return 0;
    }
}

int DetectDxVersion(const char* systemDir, uint32_t* packed, char* text, int capacity) {
    if (packed != nullptr) {
        *packed = 0;
    }
    if (text != nullptr && capacity >= 1) {
        text[0] = '\0';
    }
    uint32_t major = 0, minor = 0;
    char letter = ' ';
    if (!QueryDxDiagVersion(&major, &minor, &letter) &&
        !InferDxVersionFromFiles(systemDir, &major, &minor, &letter)) {
        return 0;
    }
    if (packed == nullptr) {
        plat::SetLastError(plat::ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    *packed = PackDxVersion(major, minor, letter);
    FormatDxVersion(major, minor, letter, text, capacity);
    return 1;
}
