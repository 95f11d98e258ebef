#include "base/CommandLineMask.h"

bool NextCommandLineWord(const std::string& line, size_t& pos, size_t& start) {
    while (pos < line.size() && line[pos] == ' ') {
        ++pos;
    }
    if (pos >= line.size()) {
        return false;
    }
    start = pos;
    bool quoted = false;
    size_t backslashes = 0;
    while (pos < line.size() && (quoted || line[pos] != ' ')) {
        // An odd run of backslashes makes the quote after it a literal one,
        // as the platform's quoting writes it.
        if (line[pos] == '"' && backslashes % 2 == 0) {
            quoted = !quoted;
        }
        backslashes = line[pos] == '\\' ? backslashes + 1 : 0;
        ++pos;
    }
    return true;
}

std::string MaskPasswordOption(const std::string& line) {
    std::string out;
    size_t pos = 0;
    size_t copied = 0;
    size_t start = 0;
    bool maskNext = false;
    while (NextCommandLineWord(line, pos, start)) {
        if (maskNext) {
            out += line.substr(copied, start - copied) + "****";
            copied = pos;
        }
        maskNext = line.compare(start, pos - start, "-pass") == 0;
    }
    return out + line.substr(copied);
}
