// CInstaller: puts one version's files into a game directory and writes the
// installation record Update/version.uvf for it, as a fresh installation of
// that version would have them. Used to set up test installations.
#pragma once
#include "PublishOptions.h"

class CInstaller {
public:
    // Copies every file (directories created, existing files replaced) and
    // writes the record. Throws std::invalid_argument for bad options or
    // unsafe names, std::runtime_error for I/O failures.
    static void Install(const InstallOptions& options);
};
