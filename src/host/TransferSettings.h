// The transfer settings a host reads beside the game and hands to the update
// library: further patch roots (mirrors), a proxy, a CA file and a download
// rate cap. An installation that sets none of them behaves as without them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/PatchRoot.h"

class CUpdateModule;

struct TransferSettings {
    // version.ini [PATH] PatchRoot1 ... PatchRoot9 that name a host, in order.
    std::vector<PatchRoot> mirrors;
    std::string proxy;   // version.ini [PATH] Proxy
    std::string caFile;  // version.ini [PATH] CAFile (relative: to the game directory)
    // Bytes per second, 0 for no cap: config.ini [COMMON] MaxDownloadRate
    // (the player's) when set, else version.ini [PATH] MaxDownloadRate.
    uint64_t maxRate = 0;
};

// A rate: decimal digits with an optional "K" or "M" (binary multiples, any
// case). false for anything else, an empty value or one beyond 2^53.
bool ParseRate(const std::string& text, uint64_t* bytesPerSecond);

// Reads the settings; gameDir resolves a relative CA file.
TransferSettings ReadTransferSettings(const std::string& versionIni, const std::string& configIni,
                                      const std::string& gameDir);

// Hands root (the PatchRoot the host passed to SetConnectInfo), the mirrors
// and the options to the module. Call after SetConnectInfo.
void ApplyTransferSettings(CUpdateModule& module, const PatchRoot& root,
                           const TransferSettings& settings);

// "1.5 MiB/s"-style text of a rate for status lines ("" for 0).
std::string FormatRate(uint64_t bytesPerSecond);
// The window's status line under a rate cap: status with " (max <rate>)"
// appended, so that a capped download is not taken for a slow server;
// status unchanged without a cap or when it is empty.
std::string StatusWithRateCap(const std::string& status, uint64_t maxRate);
