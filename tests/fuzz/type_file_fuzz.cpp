// Feeds arbitrary bytes as a scrambled launcher type file: decoding and the
// settings readers of the logger and the login-front client must stay
// within their buffers, and the server table within its 16 entries.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../support/TempDir.h"
#include "base/UpdaterBase.h"
#include "platform/File.h"
#include "updatemodule/LoginFrontClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const varntest::TempDir dir({.prefix = "varn-typefile-fuzz"});
    const std::string stored = dir / "type.uvf", plain = dir / "plain.ini";
    CUpdaterBase logger;
    if (!plat::WriteWholeFile(stored, data, size) ||
        logger.DecodeFile(stored.c_str(), plain.c_str()) == 0)
        return 0;
    logger.LoadSettings(plain.c_str());
    CLoginFrontClient client;
    client.LoadSettings(plain.c_str());
    const int count = client.GetServerCount();
    bool ok = count >= 0 && count <= CLoginFrontClient::kMaxServers;
    for (int i = 0; i < CLoginFrontClient::kMaxServers; ++i)
        ok = ok && std::strlen(client.GetServerHost(i)) <= 31;
    for (const char* field : {CUpdaterBase::s_szMailServer, CUpdaterBase::s_szMailUser,
                              CUpdaterBase::s_szMailPass, CUpdaterBase::s_szMailAddress})
        ok = ok && std::strlen(field) <= 99;
    if (!ok)
        std::abort();
    return 0;
}
