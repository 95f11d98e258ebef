// Feeds arbitrary bytes as a scrambled launcher type file: decoding and the
// settings readers of the logger and the login-front client must stay
// within their buffers, and the server table within its 16 entries.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/File.h"
#include "updatemodule/LoginFrontClient.h"
#include "updatemodule/UpdaterBase.h"

namespace {

const std::string& ScratchDir() {
    static const std::string dir = [] {
        char templ[] = "/tmp/varn-typefile-fuzz-XXXXXX";
        const char* made = mkdtemp(templ);
        if (made == nullptr) {
            std::abort();
        }
        return std::string(made);
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string stored = ScratchDir() + "/type.uvf";
    const std::string plain = ScratchDir() + "/plain.ini";
    if (!plat::WriteWholeFile(stored, data, size)) {
        return 0;
    }
    CUpdaterBase logger;
    if (logger.DecodeFile(stored.c_str(), plain.c_str()) == 0) {
        return 0;
    }
    logger.LoadSettings(plain.c_str());
    CLoginFrontClient client;
    client.LoadSettings(plain.c_str());
    const int count = client.GetServerCount();
    if (count < 0 || count > CLoginFrontClient::kMaxServers) {
        std::abort();
    }
    for (int i = 0; i < CLoginFrontClient::kMaxServers; ++i) {
        if (std::strlen(client.GetServerHost(i)) > 31) {
            std::abort();
        }
    }
    for (const char* field : {CUpdaterBase::s_szMailServer, CUpdaterBase::s_szMailUser,
                              CUpdaterBase::s_szMailPass, CUpdaterBase::s_szMailAddress}) {
        if (std::strlen(field) > 99) {
            std::abort();
        }
    }
    return 0;
}
