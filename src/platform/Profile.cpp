// Profile (INI) files: the reader shared by files and in-memory text, and a
// writer that changes the keys it is given and leaves every other byte of
// the file alone.
#include "platform/Profile.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/Error.h"
#include "platform/File.h"
#include "platform/Win32Types.h"

namespace plat {
namespace {

enum class LineKind { kOther, kSection, kKey };

// One physical line of the text; [begin, end) excludes the line break,
// which is eolLen bytes ("\n", "\r\n" or none on the last line).
struct Line {
    size_t begin, end, eolLen;
    LineKind kind;
    std::string_view name, value;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x != y && std::tolower(x) != std::tolower(y)) {
            return false;
        }
    }
    return true;
}

void Classify(std::string_view text, Line& line) {
    std::string_view s = Trim(text.substr(line.begin, line.end - line.begin));
    line.kind = LineKind::kOther;
    if (s.empty() || s.front() == ';') {
        return;
    }
    if (s.front() == '[') {
        // A section header without its "]" still names a section, as the
        // original profile functions read it.
        size_t close = s.find(']');
        line.kind = LineKind::kSection;
        line.name = Trim(s.substr(1, close == std::string_view::npos ? s.npos : close - 1));
        return;
    }
    size_t eq = s.find('=');
    if (eq == std::string_view::npos) {
        return;
    }
    line.kind = LineKind::kKey;
    line.name = Trim(s.substr(0, eq));
    std::string_view value = Trim(s.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    line.value = value;
}

// Splits text into classified lines. A UTF-8 byte order mark is part of
// no line, so a first "[section]" still counts.
std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t pos = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        pos = 3;
    }
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        Line line{};
        line.begin = pos;
        if (nl == std::string_view::npos) {
            line.end = text.size();
            line.eolLen = 0;
        } else {
            line.end = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
            line.eolLen = nl + 1 - line.end;
        }
        Classify(text, line);
        lines.push_back(line);
        pos = line.end + line.eolLen;
    }
    return lines;
}

size_t CopyOut(std::string_view value, char* buf, unsigned size) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(buf, value.data(), n);
    buf[n] = '\0';
    return n;
}

// Name lists end in a double NUL; when cut, the list keeps both NULs
// inside the buffer and reports size-2, as the Win32 functions do.
unsigned CopyNameList(const std::vector<std::string>& names, char* buf, unsigned size) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    if (size == 1) {
        buf[0] = '\0';
        return 0;
    }
    std::string list;
    for (const auto& n : names) {
        list.append(n).push_back('\0');
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buf, list.data(), list.size());
        buf[list.size()] = '\0';
        return list.empty() ? 0 : static_cast<unsigned>(list.size());
    }
    std::memcpy(buf, list.data(), size - 2);
    buf[size - 2] = '\0';
    buf[size - 1] = '\0';
    return size - 2;
}

// Where a key's line goes when the section lacks it: after the section's
// last non-blank line, so blank lines separating sections stay in place.
size_t InsertionLine(const std::vector<Line>& lines, std::string_view text, size_t header,
                     size_t sectionEnd) {
    size_t after = header;
    for (size_t i = header + 1; i < sectionEnd; ++i) {
        if (!Trim(text.substr(lines[i].begin, lines[i].end - lines[i].begin)).empty()) {
            after = i;
        }
    }
    return after;
}

bool IsKeyLine(const Line& l, const char* key) {
    return key != nullptr && l.kind == LineKind::kKey && EqualNoCase(l.name, key);
}

std::string DetectEol(const std::vector<Line>& lines) {
    for (const Line& l : lines) {
        if (l.eolLen > 0) {
            return l.eolLen == 2 ? "\r\n" : "\n";
        }
    }
    return "\n";
}

// Rebuilds the text with the one change applied; every other line is copied
// with its own line break. key nullptr drops the section, value nullptr
// drops the key (every duplicate, or the next one would show through).
std::string ApplyEdit(std::string_view text, const char* section, const char* key,
                      const char* value) {
    std::vector<Line> lines = SplitLines(text);
    std::string eol = DetectEol(lines);
    const size_t none = lines.size();
    size_t header = none, sectionEnd = none;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != LineKind::kSection) {
            continue;
        }
        if (header == none && EqualNoCase(lines[i].name, section)) {
            header = i;
        } else if (header != none) {
            sectionEnd = i;
            break;
        }
    }
    bool hasKey = false;
    for (size_t i = header + 1; header != none && i < sectionEnd; ++i) {
        hasKey = hasKey || IsKeyLine(lines[i], key);
    }
    size_t insertAfter = (header != none && !hasKey && value)
                             ? InsertionLine(lines, text, header, sectionEnd)
                             : none;
    std::string newLine = key ? std::string(key) + "=" + (value ? value : "") : "";
    std::string out(text.substr(0, lines.empty() ? text.size() : lines[0].begin));
    bool replaced = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        bool inSection = header != none && i > header && i < sectionEnd;
        if (key == nullptr && (i == header || inSection)) {
            continue;
        }
        if (inSection && IsKeyLine(l, key) && (value == nullptr || !replaced)) {
            if (value != nullptr) {
                out += newLine;
                out += text.substr(l.end, l.eolLen);
                replaced = true;
            }
            continue;
        }
        out += text.substr(l.begin, l.end - l.begin + l.eolLen);
        if (i == insertAfter) {
            out += (l.eolLen == 0 ? eol : "") + newLine + eol;
        }
    }
    if (header == none && key && value) {
        if (!out.empty() && out.back() != '\n') {
            out += eol;
        }
        out += "[" + std::string(section) + "]" + eol + newLine + eol;
    }
    return out;
}

// Names or values with line breaks would smuggle extra lines into the file;
// a key with "=" or a leading "[" or ";" could never be read back.
bool IsWritable(const char* section, const char* key, const char* value) {
    if (section == nullptr || *section == '\0' || std::strpbrk(section, "\r\n]")) {
        return false;
    }
    if (key != nullptr &&
        (*key == '\0' || std::strpbrk(key, "\r\n=") || *key == '[' || *key == ';')) {
        return false;
    }
    return value == nullptr || std::strpbrk(value, "\r\n") == nullptr;
}

// Writers of one process take turns so that two threads updating the same
// file do not lose each other's key.
std::mutex g_writeMutex;

// Reads the file, lets edit make the new text and replaces the file with
// it when it differs. creates: whether the edit may create a missing file
// (deleting from a file that does not exist succeeds at once).
template <class Edit>
bool EditFile(const char* path, const Edit& edit, bool creates) {
    std::lock_guard<std::mutex> lock(g_writeMutex);
    std::string text;
    struct stat st;
    const bool exists = stat(path, &st) == 0;
    if (exists) {
        // The read-only attribute protects a profile as it does any file.
        if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) {
            SetLastError(ERROR_ACCESS_DENIED_CODE);
            return false;
        }
        if (!ReadWholeFile(path, text)) {
            return false;
        }
    } else if (errno != ENOENT) {
        SetLastErrorFromErrno();
        return false;
    } else if (!creates) {
        return true;
    }
    const std::string updated = edit(text);
    if (exists && updated == text) {
        return true;
    }
    return ReplaceFileContents(path, updated.data(), updated.size());
}

}  // namespace

ProfileText::ProfileText(const std::string& text) {
    std::string current;
    bool inSection = false;
    for (const Line& line : SplitLines(text)) {
        if (line.kind == LineKind::kSection) {
            current.assign(line.name);
            inSection = true;
            bool known = false;
            for (const auto& s : m_sections) {
                known = known || EqualNoCase(s, current);
            }
            if (!known) {
                m_sections.push_back(current);
            }
        } else if (line.kind == LineKind::kKey && inSection) {
            m_entries.push_back({current, std::string(line.name), std::string(line.value)});
        }
    }
}

const std::string* ProfileText::Find(const std::string& section, const std::string& key) const {
    for (const Entry& e : m_entries) {
        if (EqualNoCase(e.section, section) && EqualNoCase(e.key, key)) {
            return &e.value;
        }
    }
    return nullptr;
}

std::vector<std::string> ProfileText::Sections() const {
    return m_sections;
}

std::vector<std::string> ProfileText::Keys(const std::string& section) const {
    std::vector<std::string> keys;
    for (const Entry& e : m_entries) {
        if (!EqualNoCase(e.section, section)) {
            continue;
        }
        bool known = false;
        for (const auto& k : keys) {
            known = known || EqualNoCase(k, e.key);
        }
        if (!known) {
            keys.push_back(e.key);
        }
    }
    return keys;
}

unsigned GetPrivateProfileString(const char* section, const char* key, const char* def, char* buf,
                                 unsigned size, const char* path) {
    std::string text;
    bool haveFile = path != nullptr && ReadWholeFile(path, text);
    ProfileText profile(haveFile ? text : std::string());
    if (section == nullptr) {
        return CopyNameList(profile.Sections(), buf, size);
    }
    if (key == nullptr) {
        return CopyNameList(profile.Keys(section), buf, size);
    }
    const std::string* value = profile.Find(section, key);
    if (value != nullptr) {
        SetLastError(ERROR_SUCCESS_CODE);
        return static_cast<unsigned>(CopyOut(*value, buf, size));
    }
    SetLastError(ERROR_FILE_NOT_FOUND_CODE);
    return static_cast<unsigned>(CopyOut(def ? std::string_view(def) : "", buf, size));
}

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& def, const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) {
        return def;
    }
    ProfileText profile(text);
    const std::string* value = profile.Find(section, key);
    return value ? *value : def;
}

int GetPrivateProfileInt(const char* section, const char* key, int def, const char* path) {
    if (section == nullptr || key == nullptr || path == nullptr) {
        return def;
    }
    std::string text;
    if (!ReadWholeFile(path, text)) {
        return def;
    }
    ProfileText profile(text);
    const std::string* value = profile.Find(section, key);
    if (value == nullptr || value->empty()) {
        return def;
    }
    size_t i = 0;
    bool negative = false;
    if ((*value)[0] == '-' || (*value)[0] == '+') {
        negative = (*value)[0] == '-';
        i = 1;
    }
    // Saturate instead of overflowing: the values come from downloaded
    // files and must not be able to trigger undefined behaviour.
    long long n = 0;
    for (; i < value->size() && std::isdigit(static_cast<unsigned char>((*value)[i])); ++i) {
        n = n * 10 + ((*value)[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) {
            n = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        return static_cast<int>(-n);
    }
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* path) {
    if (path == nullptr || !IsWritable(section, key, value)) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return false;
    }
    return EditFile(
        path, [&](const std::string& text) { return ApplyEdit(text, section, key, value); },
        key != nullptr && value != nullptr);
}

bool WritePrivateProfileStrings(const std::vector<ProfileWrite>& writes, const std::string& path) {
    for (const ProfileWrite& w : writes) {
        if (!IsWritable(w.section.c_str(), w.key.c_str(), w.value.c_str())) {
            SetLastError(ERROR_INVALID_PARAMETER_CODE);
            return false;
        }
    }
    return EditFile(
        path.c_str(),
        [&](std::string text) {
            for (const ProfileWrite& w : writes) {
                text = ApplyEdit(text, w.section.c_str(), w.key.c_str(), w.value.c_str());
            }
            return text;
        },
        !writes.empty());
}

}  // namespace plat
