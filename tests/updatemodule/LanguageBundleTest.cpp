// Every id the library asks for is in the built-in table and in every bundle
// the build lays out beside the executables, with the printf conversions its
// caller supplies (a text asking for more reads garbage).
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/Profile.h"
#include "support/TempDir.h"

namespace {

std::string Conversions(const std::string& text) {
    std::string out;
    for (size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 1)) {
        i = text.find_first_not_of("-+ #0123456789.lhz", i + 1);
        if (i == std::string::npos)
            break;
        if (text[i] != '%')
            out += text[i];
    }
    return out;
}

std::map<unsigned, std::string> Expected() {
    std::map<unsigned, std::string> t;
    for (unsigned id = 101; id <= 136; ++id)
        t[id] = "";
    for (unsigned id : {3000u, 3001u, 3003u, 3004u, 3005u, 3007u, 3009u, 3011u, 3028u, 3029u, 3036u,
                        3037u, 3038u, 3039u, 3044u})
        t[id] = "";
    for (unsigned id : {3006u, 3008u, 3012u, 3013u, 3014u, 3015u, 3016u, 3019u, 3020u, 3021u, 3022u,
                        3023u, 3025u, 3026u, 3027u, 3030u, 3031u, 3035u})
        t[id] = "s";
    for (unsigned id = 150; id <= 162; ++id)
        t[id] = "";
    for (unsigned id : {3002u, 3010u, 3032u, 170u})
        t[id] = "ss";
    t[171] = t[172] = "s";
    return t;
}

}  // namespace

TEST(LanguageBundleTest, EveryIdExistsWithMatchingArguments) {
    for (const char* file :
         {VARN_SOURCE_DIR "/resources/base_strings.ini", VARN_BINARY_DIR "/bin/Resource_Jpn.ini",
          VARN_BINARY_DIR "/bin/Resource_Eng.ini"}) {
        const std::string text = varntest::TempDir::ReadFile(file);
        ASSERT_FALSE(text.empty()) << file;
        const plat::ProfileText table(text);
        for (const auto& [id, conversions] : Expected()) {
            const std::string* value = table.Find("Strings", std::to_string(id));
            ASSERT_NE(value, nullptr) << file << " lacks " << id;
            EXPECT_FALSE(value->empty()) << file << " " << id;
            EXPECT_EQ(Conversions(*value), conversions) << file << " " << id << ": " << *value;
        }
    }
}
