// The launcher version check. Replacing the launcher itself comes later: a
// newer published launcher is only logged and the game update goes on.
#include "engine/FileUpdater.h"

int CFileUpdater::CheckLauncherVersion(const char* updateFilePath) {
    CUpdateVersion published;
    published.SetPath(updateFilePath);
    if (!published.LoadUpdateVersion())
        return 0;
    CopyPublishedState(published);

    int same = 0;
    const int ownGreater = CompareVersion(m_szLauncherVersion, m_szNewLauncherVersion, &same);
    if (same) {
        UpdateLog("CheckLauncherVersion Local Version(%s) And Latest Version(%s)\n",
                  m_szLauncherVersion, m_szNewLauncherVersion);
        UserLog("CheckLauncherVersion Local Version(%s) And Latest Version(%s) \n",
                m_szLauncherVersion, m_szNewLauncherVersion);
        return 1;
    }
    if (ownGreater) {
        UpdateLog("CheckLauncherVersion Local Version(%s) is higher than Latest Version(%s)\n",
                  m_szLauncherVersion, m_szNewLauncherVersion);
        return 1;
    }
    UpdateLog("CheckLauncherVersion Local Version(%s) is lower than Latest Version(%s)\n",
              m_szLauncherVersion, m_szNewLauncherVersion);
    return 1;
}
