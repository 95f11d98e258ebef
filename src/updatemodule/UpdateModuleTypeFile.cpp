// CUpdateModule: the launcher type file. The scrambled type.uvf is decoded
// once into a private plain copy; the three updater objects read their keys
// from it, and the window reads single keys from the same copy later.
#include "engine/FileUpdater.h"
#include "platform/Profile.h"
#include "updatemodule/LoginFrontClient.h"
#include "updatemodule/UpdateModule.h"

int CUpdateModule::LoadTypeFile() {
    if (g_UpdateLogger.LoadLauncherType() == 0) {
        return 0;
    }
    char plain[260];
    CUpdaterBase::GetPlainTypePath(plain, sizeof(plain));
    g_LoginFront.LoadSettings(plain);
    g_FileUpdater.LoadSettings(plain);
    return 1;
}

int CUpdateModule::IsLiveServerUpdate() {
    char plain[260];
    CUpdaterBase::GetPlainTypePath(plain, sizeof(plain));
    const int live = plat::GetPrivateProfileInt("SETUP", "LIVESERVERUPDATE", 1, plain);
    if (live != 0) {
        UserLog("Luancher Type  Write Varn Launcher  for Live \n");
    } else {
        UserLog("Luancher Type  Write Varn Launcher  for TestServer \n");
    }
    return live;
}

void CUpdateModule::GetNoticeURL(char* url, char* /*second*/) {
    if (url == nullptr) {
        return;
    }
    char plain[260];
    CUpdaterBase::GetPlainTypePath(plain, sizeof(plain));
    plat::GetPrivateProfileString("SETUP", "NOTICEURL", kDefaultNoticeURL, url, 260, plain);
}
