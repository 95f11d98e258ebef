// The launcher version check. Replacing the launcher itself comes later: a
// newer published launcher is only logged and the game update goes on.
#include "engine/FileUpdater.h"

int CFileUpdater::CheckLauncherVersion(const char* updateFilePath) {
    CUpdateVersion published;
    published.SetPath(updateFilePath);
    if (!published.LoadUpdateVersion())
        return 0;
    CopyText(m_szNewUpdateName, sizeof(m_szNewUpdateName), published.m_szUpdateName);
    CopyText(m_szTargetVersion, sizeof(m_szTargetVersion), published.m_szUpdateVersion);
    CopyText(m_szNewMinorVersion, sizeof(m_szNewMinorVersion), published.m_szMinorVersion);
    CopyText(m_szLatestVersion, sizeof(m_szLatestVersion), published.m_szLatestVersion);
    CopyText(m_szPrimaryVersion, sizeof(m_szPrimaryVersion), published.m_szPrimaryVersion);
    CopyText(m_szEndVersion, sizeof(m_szEndVersion), published.m_szEndVersion);
    CopyText(m_szNewLauncherVersion, sizeof(m_szNewLauncherVersion), published.m_szLauncherVersion);

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
