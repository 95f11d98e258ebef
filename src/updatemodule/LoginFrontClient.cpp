#include "updatemodule/LoginFrontClient.h"

#include <cstdio>

#include "platform/Profile.h"

CLoginFrontClient g_LoginFront;

CLoginFrontClient::CLoginFrontClient()
    : m_szHost{},
      m_nPort{},
      m_szLauncherVersion{},
      m_nServerCount(kMaxServers),
      m_nUseDefault(1),
      m_nLoginFront(1),
      m_nGetLast(0),
      m_nUpdateVersion(0),
      m_szUpdateVersion{} {
    for (int i = 0; i < 2; ++i) {
        std::snprintf(m_szHost[i], sizeof(m_szHost[i]), "%s", kDefaultHost);
        m_nPort[i] = kDefaultPort;
    }
    m_szDefaultPath[0] = '\0';
}

int CLoginFrontClient::LoadSettings(const char* iniPath) {
    // The key is read so that a type file carrying it stays valid, but its
    // value does not switch the query on: a loaded type file means the
    // service is reached through its version files.
    (void)plat::GetPrivateProfileInt("SETUP", "LOGINFRONTUSE", 1, iniPath);
    SetLoginFront(0);

    m_nUseDefault = plat::GetPrivateProfileInt("SETUP", "LOGINFRONTUSEDEFAULT", 1, iniPath);
    if (m_nUseDefault != 0) {
        return 1;
    }
    int count = plat::GetPrivateProfileInt("LF SERVER", "COUNT", 0, iniPath);
    if (count > kMaxServers) {
        count = kMaxServers;
    }
    if (count < 0) {
        count = 0;
    }
    m_nServerCount = count;
    for (int i = 0; i < count; ++i) {
        char key[16];
        std::snprintf(key, sizeof(key), "IP%d", i);
        plat::GetPrivateProfileString("LF SERVER", key, "", m_szHost[i], sizeof(m_szHost[i]),
                                      iniPath);
        std::snprintf(key, sizeof(key), "PORT%d", i);
        m_nPort[i] = plat::GetPrivateProfileInt("LF SERVER", key, 0, iniPath);
    }
    return 1;
}

int CLoginFrontClient::QueryVersion() {
    if (!IsLoginFront()) {
        UpdateLog("*** No Use LFServer ***\n");
        return 0;
    }
    UpdateLog("*** LFServer query not available, checking version files ***\n");
    return 0;
}

void CLoginFrontClient::SetLauncherVersion(const char* version) {
    if (version != nullptr) {
        std::snprintf(m_szLauncherVersion, sizeof(m_szLauncherVersion), "%s", version);
    }
}

void CLoginFrontClient::SetUpdateVersion(const char* version) {
    m_nUpdateVersion = 1;
    std::snprintf(m_szUpdateVersion, sizeof(m_szUpdateVersion), "%s", version ? version : "");
}

const char* CLoginFrontClient::GetServerHost(int i) const {
    return (i >= 0 && i < kMaxServers) ? m_szHost[i] : "";
}

int CLoginFrontClient::GetServerPort(int i) const {
    return (i >= 0 && i < kMaxServers) ? m_nPort[i] : 0;
}
