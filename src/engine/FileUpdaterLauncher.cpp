// The launcher version check.
#include "engine/FileUpdater.h"

int CFileUpdater::CheckLauncherVersion(const char* /*updateFilePath*/) { return 0; }
