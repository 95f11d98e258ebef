// CPublishCommandLine: the varn-publish command line. Main() is the whole
// tool (parse, run, report) so tests can run it in-process.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "PublishOptions.h"

class CPublishCommandLine {
public:
    enum class Command { Publish, Install, Keygen, Help };
    struct Parsed {
        Command command = Command::Help;
        PublishOptions publish;
        InstallOptions install;
        KeygenOptions keygen;
    };

    // args excludes the program name. Throws std::invalid_argument with a
    // message for the user on a malformed command line.
    static Parsed Parse(const std::vector<std::string>& args);
    static std::string HelpText();
    // Runs the tool: 0 success, 1 failure (message on err), 2 usage error.
    static int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};
