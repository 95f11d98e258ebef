#include "host/DirectXReport.h"

#include <initializer_list>

#include "base/UpdateTypes.h"

namespace {

enum : unsigned {
    IDS_DX_FOUND_IN = 170,        // installed version, directory
    IDS_DX_NONE_IN = 171,         // directory
    IDS_DX_PREFIX_PENDING = 172,  // Wine prefix
};

// A bundle text with its "%s" filled in order by plain replacement (the
// text is never a printf format); "%%" gives "%", surplus "%s" are dropped.
std::string Fill(plat::ResourceHandle bundle, unsigned id,
                 std::initializer_list<std::string> args) {
    char buf[kStringBuffer] = "";
    plat::LoadResourceString(bundle, id, buf, sizeof(buf));
    const std::string text = buf;
    std::string out;
    auto next = args.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == '%')) {
            if (text[i + 1] == '%') {
                out += '%';
            } else if (next != args.end()) {
                out += *next++;
            }
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string DirectXReport(const DirectXFindings& found, const std::string& required,
                          plat::ResourceHandle bundle) {
    std::string where;
    if (!found.directory.empty()) {
        where = found.installed.empty()
                    ? Fill(bundle, IDS_DX_NONE_IN, {found.directory})
                    : Fill(bundle, IDS_DX_FOUND_IN, {found.installed, found.directory});
    } else if (!found.winePrefix.empty()) {
        where = Fill(bundle, IDS_DX_PREFIX_PENDING, {found.winePrefix});
    }
    if (found.accepted) {
        return where;
    }
    // The reason in the words the start button's refusal uses.
    const std::string reason = found.installed.empty()
                                   ? Fill(bundle, IDS_DX_NOT_FOUND, {required})
                                   : Fill(bundle, IDS_DX_TOO_OLD, {found.installed, required});
    return where.empty() ? reason : where + "\n\n" + reason;
}
