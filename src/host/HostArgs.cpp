#include "host/HostArgs.h"

#include "updatemodule/UpdateModule.h"

OwnOptions ReadOwnOptions(const std::vector<std::string>& args) {
    OwnOptions own;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        switch (CUpdateModule::OptionKindOf(word)) {
            case CUpdateModule::OPTION_REST:
                return own;
            case CUpdateModule::OPTION_VALUE:
                ++i;
                continue;
            case CUpdateModule::OPTION_FLAG:
                continue;
            case CUpdateModule::OPTION_NONE:
                break;
        }
        if (word == "--help" || word == "-h") {
            own.help = true;
            return own;
        }
        if (word.rfind("--", 0) == 0) {
            own.unknown = word;
            return own;
        }
    }
    return own;
}
