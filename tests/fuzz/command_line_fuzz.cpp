// Arbitrary command lines through the launcher's option walk: the forwarded
// options fit 259 characters and walk again to themselves. A scratch game
// directory and a unique launcher name keep the walk away from other files
// and processes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/FileUpdater.h"
#include "updatemodule/UpdateModule.h"

namespace {

class FuzzModule : public CUpdateModule {
public:
    using CUpdateModule::ApplyCommandLine;
};

std::string g_scratch;

void RemoveScratch() {
    std::error_code ec;
    std::filesystem::remove_all(g_scratch, ec);
}

FuzzModule& Module() {
    static FuzzModule* module = [] {
        char templ[] = "/tmp/varn-cmdline-fuzz-XXXXXX";
        if (mkdtemp(templ) == nullptr)
            std::abort();
        g_scratch = templ;
        std::atexit(RemoveScratch);
        if (chdir(templ) != 0)
            std::abort();
        setenv("TMPDIR", templ, 1);
        std::snprintf(g_FileUpdater.m_szExeName, sizeof(g_FileUpdater.m_szExeName),
                      "varn-cmdline-fuzz-%d", static_cast<int>(getpid()));
        auto* m = new FuzzModule();
        m->SetUpdatePath(templ);
        return m;
    }();
    return *module;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzModule& module = Module();
    // The line is a C string of at most what PARAM can hold.
    std::string line(reinterpret_cast<const char*>(data), std::min<size_t>(size, 259));
    line = line.substr(0, line.find('\0'));
    if (line.find("-copy") != std::string::npos)
        return 0;  // ends the walk before any forwarding; nothing to compare
    module.ApplyCommandLine(line.c_str());
    const std::string first = g_FileUpdater.ForwardOptions();
    if (first.size() > 259)
        std::abort();
    module.ApplyCommandLine(first.c_str());
    if (first != g_FileUpdater.ForwardOptions()) {
        std::fprintf(stderr, "forwarded [%s] walked again gave [%s]\n", first.c_str(),
                     g_FileUpdater.ForwardOptions());
        std::abort();
    }
    return 0;
}
