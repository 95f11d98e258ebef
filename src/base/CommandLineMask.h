// Command lines as the logs show them: logs are mailed to the operator, so
// a password given on the line never appears in one.
#pragma once
#include <string>

// The next word of a launcher command line at or after pos (blanks
// separate, double quotes group, a quote after an odd run of backslashes is
// a literal one): its span is [start, pos) afterwards. False at the end of
// the line.
bool NextCommandLineWord(const std::string& line, size_t& pos, size_t& start);

// The line with the word after every "-pass" word replaced by "****".
// Words are split as the launcher splits its line (blanks separate, double
// quotes group); everything else is kept as it stands.
std::string MaskPasswordOption(const std::string& line);
