// Which language bundle a host loads: Resource_<Lang>.ini beside it, <Lang>
// chosen by the user's locale when that bundle is installed, else the
// default Japanese one. <Lang> is the ISO 639-2 code of the language with a
// capital first letter ("Jpn", "Eng", "Kor").
#pragma once
#include <string>

// The locale variables in the order POSIX lets them decide the language of
// messages: the first non-empty one wins.
struct LocaleEnvironment {
    std::string lcAll;       // LC_ALL
    std::string lcMessages;  // LC_MESSAGES
    std::string lang;        // LANG
};

// The three variables of this process's environment.
LocaleEnvironment ReadLocaleEnvironment();

// The bundle language a locale name asks for: "en_US.UTF-8" gives "Eng",
// "ja_JP" gives "Jpn". "" for "C", "POSIX", "" and a language without a
// known code.
std::string BundleLanguage(const std::string& locale);

// Full path of the bundle to load from dir: the locale's
// Resource_<Lang>.ini when that file exists there, else Resource_Jpn.ini
// (which a host loads even when it is missing: lookups then fall back to
// the built-in English texts).
std::string ChooseBundleFile(const LocaleEnvironment& env, const std::string& dir);
