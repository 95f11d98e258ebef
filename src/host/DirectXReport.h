// The DirectX diagnostics button: what the DirectX check found, as the text
// of one box. On this system the game's DirectX is Wine's; its own
// diagnostics program has no window to show, so the box says what the
// launcher's check sees.
#pragma once
#include <string>

#include "platform/Resource.h"

// What CUpdateModule::InspectDXVersion gave.
struct DirectXFindings {
    bool accepted = false;
    std::string installed;   // "" when none was found
    std::string winePrefix;  // "" when none could be named
    std::string directory;   // "" when none was read
};

// Where the check looked and what it found there; when it refused, the
// reason follows after a blank line. required: the version the game needs.
std::string DirectXReport(const DirectXFindings& found, const std::string& required,
                          plat::ResourceHandle bundle);
