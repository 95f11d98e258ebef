#include "engine/ResourceText.h"

#include <vector>

std::string LoadFormattedString(plat::ResourceHandle module, unsigned id, int bufferSize,
                                std::initializer_list<const char*> args) {
    if (bufferSize <= 1)
        return std::string();
    std::vector<char> buf(static_cast<size_t>(bufferSize), '\0');
    plat::LoadResourceString(module, id, buf.data(), bufferSize);
    const std::string format(buf.data());

    std::string out;
    auto next = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 's') {
                if (next != args.end()) {
                    out += *next ? *next : "";
                    ++next;
                }
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    if (out.size() > static_cast<size_t>(bufferSize - 1))
        out.resize(static_cast<size_t>(bufferSize - 1));
    return out;
}
