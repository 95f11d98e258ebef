#include "host/CheckReport.h"

#include "base/UpdateTypes.h"
#include "host/ExitCode.h"

std::vector<std::string> CheckReportLines(const std::vector<InstallFinding>& findings) {
    std::vector<std::string> lines;
    for (const InstallFinding& f : findings) {
        const std::string name = f.file.ListName();
        switch (f.kind) {
            case FINDING_MISSING:
                lines.push_back("missing  " + name + (f.repaired ? ", repaired" : ""));
                break;
            case FINDING_DAMAGED:
                lines.push_back("damaged  " + name + (f.repaired ? ", repaired" : ""));
                break;
            default:
                lines.push_back("changed  " + name + "  (configuration file, left as it is)");
                break;
        }
    }
    return lines;
}

size_t CountBroken(const std::vector<InstallFinding>& findings) {
    size_t n = 0;
    for (const InstallFinding& f : findings)
        n += CInstallCheck::NeedsRepair(f) && !f.repaired ? 1 : 0;
    return n;
}

int CheckExitCode(int checkResult, bool interrupted) {
    if (interrupted || checkResult == CHECK_STOPPED)
        return PATCH_EXIT_INTERRUPTED;
    switch (checkResult) {
        case CHECK_ALL_WELL:
            return PATCH_EXIT_OK;
        case CHECK_DAMAGED:
            return PATCH_EXIT_DAMAGED;
        case CHECK_CONNECT_FAILED:
            return PATCH_EXIT_CONNECT_FAILED;
        default:
            return PATCH_EXIT_FAILED;
    }
}
