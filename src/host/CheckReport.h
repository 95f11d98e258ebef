// What a host says about an installation check: one line per finding and
// the exit code of a check run. Pure functions.
#pragma once
#include <string>
#include <vector>

#include "engine/InstallCheck.h"

// "missing  <name>", "damaged  <name>" (", repaired" once put back), or
// "changed  <name>  (configuration file, left as it is)".
std::vector<std::string> CheckReportLines(const std::vector<InstallFinding>& findings);
// Missing or damaged files that are still so after the check.
size_t CountBroken(const std::vector<InstallFinding>& findings);
// The exit code of a check (CHECK_*), interrupted: Ctrl-C was pressed.
int CheckExitCode(int checkResult, bool interrupted);
