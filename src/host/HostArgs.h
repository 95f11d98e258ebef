// A host's reading of the command line it shares with the launcher: its
// own "--" options among the launcher's, and the patch server a run will
// use. Pure functions; the option table stays the update library's.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/PatchRoot.h"

struct OwnOptions {
    bool help = false;    // "--help" or "-h"
    std::string unknown;  // the first other word starting with "--", "" when none
    // "--max-rate=RATE": the download rate cap in bytes per second (a "K" or
    // "M" suffix multiplies by 1024 or 1048576); 0 when not given. A value
    // that is no rate makes the word unknown.
    uint64_t maxRate = 0;
    bool verify = false;  // "--verify": check the installation instead of updating
    bool repair = false;  // "--repair": check it and put back what is broken
};

// Reads the host's own options from its arguments (without the program
// name), stopping at the first "--help", "-h" or unknown "--" word. Words
// the launcher takes as option values (the word after "-pass", the rest of
// the line after "-checked") are the launcher's and are never read here,
// so a password such as "--x--" stays one.
OwnOptions ReadOwnOptions(const std::vector<std::string>& args);

// "host:port" of the patch server a run will connect to: version.ini's
// PatchRoot, replaced by the last "-ip" and "-port" of the launcher's
// words (config.ini PARAM merged with the arguments, as the update library
// reads them). "" when no host is set. An IPv6 address is bracketed.
std::string PatchServerName(const PatchRoot& root, const std::vector<std::string>& words);
