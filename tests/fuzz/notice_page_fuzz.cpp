// Feeds what a notice page controls to the launcher's rules for it: the
// addresses it navigates to or opens, and the calls it posts on the
// external object's channel. Input: fields separated by '\n' (address,
// notice address, secret, name, text, number).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/NoticeExternal.h"
#include "host/NoticePolicy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> f(6);
    size_t i = 0;
    for (size_t k = 0; k < size; ++k) {
        if (data[k] == '\n' && i + 1 < f.size())
            ++i;
        else
            f[i].push_back(static_cast<char>(data[k]));
    }
    const std::string& url = f[0];
    const std::string& notice = f[1];
    WebOrigin(url);
    SameWebOrigin(url, notice);
    DecideNavigation(url);
    DecideNewWindow(url, size % 2 == 0);
    ExternalObjectScript(notice, f[2]);
    ExternalCall call{f[2], f[3], f[4], std::strtod(f[5].c_str(), nullptr)};
    DispatchExternal(call, f[2], notice, url);
    return 0;
}
