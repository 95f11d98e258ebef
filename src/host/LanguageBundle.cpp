#include "host/LanguageBundle.h"

#include <cctype>

#include "platform/File.h"
#include "platform/Path.h"
#include "platform/Process.h"

namespace {

constexpr const char* kDefaultLanguage = "Jpn";

struct LanguageCode {
    const char* iso639_1;
    const char* bundle;
};

// The languages a translator may ship a bundle for; a locale outside the
// list keeps the default bundle.
constexpr LanguageCode kLanguages[] = {
    {"ja", "Jpn"}, {"en", "Eng"}, {"ko", "Kor"}, {"zh", "Zho"}, {"de", "Deu"}, {"fr", "Fra"},
    {"es", "Spa"}, {"it", "Ita"}, {"pt", "Por"}, {"ru", "Rus"}, {"th", "Tha"}, {"vi", "Vie"},
    {"id", "Ind"}, {"pl", "Pol"}, {"nl", "Nld"}, {"tr", "Tur"},
};

}  // namespace

LocaleEnvironment ReadLocaleEnvironment() {
    return {plat::GetEnvironmentVariable("LC_ALL"), plat::GetEnvironmentVariable("LC_MESSAGES"),
            plat::GetEnvironmentVariable("LANG")};
}

std::string BundleLanguage(const std::string& locale) {
    // language[_territory][.codeset][@modifier]
    std::string language = locale.substr(0, locale.find_first_of("_.@"));
    for (char& c : language) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const LanguageCode& code : kLanguages) {
        if (language == code.iso639_1) {
            return code.bundle;
        }
    }
    return "";
}

std::string ChooseBundleFile(const LocaleEnvironment& env, const std::string& dir) {
    const std::string& locale = !env.lcAll.empty()        ? env.lcAll
                                : !env.lcMessages.empty() ? env.lcMessages
                                                          : env.lang;
    const std::string language = BundleLanguage(locale);
    if (!language.empty()) {
        const std::string path = plat::JoinPath(dir, "Resource_" + language + ".ini");
        if (plat::FileExists(path)) {
            return path;
        }
    }
    return plat::JoinPath(dir, std::string("Resource_") + kDefaultLanguage + ".ini");
}
