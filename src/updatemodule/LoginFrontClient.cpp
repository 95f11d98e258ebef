#include "updatemodule/LoginFrontClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/FileUpdater.h"
#include "engine/UpdateVersion.h"
#include "platform/Error.h"
#include "platform/Path.h"
#include "platform/Profile.h"
#include "updatemodule/LoginFrontAnswer.h"

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
      m_szUpdateVersion{},
      m_nSwitchedOff(0),
      m_nStop(0) {
    for (int i = 0; i < 2; ++i) {
        std::snprintf(m_szHost[i], sizeof(m_szHost[i]), "%s", kDefaultHost);
        m_nPort[i] = kDefaultPort;
    }
    m_szDefaultPath[0] = '\0';
}

int CLoginFrontClient::LoadSettings(const char* iniPath) {
    // A publisher who sets the key gets what it says. Without it, a loaded
    // type file means the service is reached through its version files, so
    // installations whose file says nothing never start asking the
    // built-in host. Two defaults tell an absent key from any value.
    const int use = plat::GetPrivateProfileInt("SETUP", "LOGINFRONTUSE", 0, iniPath);
    const bool present = use == plat::GetPrivateProfileInt("SETUP", "LOGINFRONTUSE", 1, iniPath);
    const int on = (present && use != 0 && m_nSwitchedOff == 0) ? 1 : 0;
    m_nLoginFront.store(on, std::memory_order_relaxed);

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

void CLoginFrontClient::SetLoginFront(int on) {
    m_nSwitchedOff = (on == 0) ? 1 : 0;
    m_nLoginFront.store(on != 0 ? 1 : 0, std::memory_order_relaxed);
}

int CLoginFrontClient::ConnectLFServer() {
    if (!IsLoginFront()) {
        UpdateLog("*** No Use LFServer ***\n");
        return 0;
    }
    if (m_nStop.load(std::memory_order_relaxed) != 0) {
        UpdateLog("*** ConnectLFServer stopped ***\n");
        return 0;
    }
    // Only entries that can be connected to are candidates: the built-in
    // table fills 2 of its 16, and a draw of an empty one would skip the
    // query for no reason.
    std::vector<int> usable;
    for (int i = 0; i < m_nServerCount && i < kMaxServers; ++i) {
        if (m_szHost[i][0] != '\0' && m_nPort[i] > 0) {
            usable.push_back(i);
        }
    }
    if (usable.empty()) {
        UpdateLog("*** ConnectLFServer invalid LFServer Count %d ***\n",
                  m_nServerCount < 1 ? m_nServerCount : 0);
        return 0;
    }
    std::minstd_rand random(static_cast<unsigned>(std::time(nullptr)));
    const int entry = usable[random() % usable.size()];

    plat::TcpSocket socket = OpenLFConnection(m_szHost[entry], m_nPort[entry]);
    if (!socket.IsOpen()) {
        UpdateLog("*** ConnectLFServer Connect failed ***\n");
        return 0;
    }
    static const uint8_t kRequest[4] = {2, 0, 0x33, 0xFE};
    if (!socket.SendAll(kRequest, sizeof(kRequest), kReceiveTimeoutMs, &m_nStop)) {
        socket.Close();
        UpdateLog("*** ConnectLFServer request version failed ***\n");
        return 0;
    }
    return ReadAnswer(socket);
}

int CLoginFrontClient::ReadAnswer(plat::TcpSocket& socket) {
    // The answer may come in pieces: it is gathered up to the size its first
    // bytes call for, all within one time-out. The 0x30 fill of the buffer
    // is never read as versions, since only received bytes are judged.
    uint8_t buffer[512];
    std::fill(std::begin(buffer), std::end(buffer), uint8_t{0x30});
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReceiveTimeoutMs);
    LoginFrontAnswer answer{};
    size_t received = 0;
    int first = 0;
    LoginFrontAnswer::Verdict verdict = ParseLoginFrontAnswer(buffer, 0, &answer);
    while (verdict == LoginFrontAnswer::NEED_MORE) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const uint32_t wait = left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
        const int n = socket.Receive(buffer + received, answer.nNeeded - received, wait, &m_nStop);
        if (n <= 0) {
            const int error = static_cast<int>(plat::GetLastError());
            socket.Close();
            UpdateLog("*** Socket error : %d ***\n", error);
            return 0;
        }
        UpdateLog("*** Recv %d byte From LoginFront Server. ***\n", n);
        if (received == 0) {
            first = n;
        }
        received += static_cast<size_t>(n);
        verdict = ParseLoginFrontAnswer(buffer, received, &answer);
    }
    if (verdict == LoginFrontAnswer::INVALID) {
        socket.Close();
        UpdateLog("*** Invalid answer from LoginFront Server (%d byte) ***\n",
                  static_cast<int>(received));
        return 0;
    }
    if (received != static_cast<size_t>(first)) {
        UpdateLog("*** recv more size %d byte (req:%d recv:%d)\n", static_cast<int>(received),
                  static_cast<int>(answer.nNeeded), first);
    }
    return CheckVersionInfo(socket, answer);
}

plat::TcpSocket CLoginFrontClient::OpenLFConnection(const char* host, int port) {
    if (m_nUserLogMode != 0) {
        UpdateLog("Trying to connect LF Server\n");
    } else {
        UpdateLog("Trying to connect LF Server(%s:%d)\n", host, port);
    }
    plat::TcpSocket socket;
    if (socket.Connect(host, port, kConnectTimeoutMs, &m_nStop)) {
        return socket;
    }
    const uint32_t error = plat::GetLastError();
    if (error == plat::WSAECONNREFUSED_CODE) {
        UpdateLog(
            "[WSAECONNREFUSED] No connection could be made because the target machine actively "
            "refused it.\n");
    } else {
        UpdateLog("*** Connect LF Server error : %d ***\n", static_cast<int>(error));
    }
    return socket;
}

int CLoginFrontClient::CheckVersionInfo(plat::TcpSocket& socket, const LoginFrontAnswer& answer) {
    UpdateLog("CheckVersionInfo Start\n");
    socket.Close();

    const std::string path = plat::JoinPath(m_szUpdatePath, "version.uvf");
    UpdateLog("Read %s File", path.c_str());
    CUpdateVersion local;
    local.SetPath(path.c_str());
    if (!local.LoadUpdateVersion()) {
        return 0;
    }
    char localVersion[20];
    std::snprintf(localVersion, sizeof(localVersion), "%s", local.m_szUpdateVersion);
    if (m_nGetLast != 0) {
        if (local.m_szPrimaryVersion[0] != '\0') {
            PatchLog("GetLastVersion Set LocalVersion %s to PriVersion %s", localVersion,
                     local.m_szPrimaryVersion);
            std::snprintf(localVersion, sizeof(localVersion), "%s", local.m_szPrimaryVersion);
        } else if (local.m_szEndVersion[0] != '\0') {
            PatchLog("GetLastVersion Set LocalVersion %s to EndVersion %s", localVersion,
                     local.m_szEndVersion);
            std::snprintf(localVersion, sizeof(localVersion), "%s", local.m_szEndVersion);
        }
    } else if (m_nUpdateVersion != 0) {
        std::snprintf(localVersion, sizeof(localVersion), "%s", m_szUpdateVersion);
    }
    const char* localMinor = local.m_szMinorVersion;

    int same = 0;
    int newer = CFileUpdater::CompareVersion(m_szLauncherVersion, answer.szLauncherVersion, &same);
    if (!same && !newer) {
        UpdateLog("*** Need Update Launcher Local Version : %s Latest Version : %s ***",
                  m_szLauncherVersion, answer.szLauncherVersion);
        return 0;
    }
    newer = CFileUpdater::CompareVersion(localVersion, answer.szGameVersion, &same);
    if (!same && !newer) {
        UpdateLog(
            "*** Need Update Major Version Local Version : %s(%s) Latest Version : %s(%s) ***",
            localVersion, localMinor, answer.szGameVersion, answer.szMinorVersion);
        return 0;
    }
    newer = CFileUpdater::CompareVersion(localMinor, answer.szMinorVersion, &same);
    if (same) {
        UpdateLog("*** Same Version from Login Front with Launcher ***");
        return 1;
    }
    if (newer) {
        UpdateLog(
            "CheckFileListVersion Local Minor Version(%s) is higher than Latest Minor "
            "Version(%s)",
            localMinor, answer.szMinorVersion);
        return 1;
    }
    UpdateLog("*** Need Update Major Version Local Version : %s(%s) Latest Version : %s(%s) ***",
              localVersion, localMinor, answer.szGameVersion, answer.szMinorVersion);
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
