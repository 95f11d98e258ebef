// Version comparison and the update decision.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/FileUpdater.h"
#include "platform/Path.h"

namespace {

constexpr int kFields = 4;
constexpr const char* kUnknown = "unknown";

// Leading decimal digits as the C library reads them, but saturated instead
// of undefined when a hostile server sends a huge field.
int LeadingNumber(const std::string& piece) {
    long v = strtol(piece.c_str(), nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return int(v);
}

}  // namespace

int CFileUpdater::LetterValue(const char* piece) {
    if (!piece || strcmp(piece, "0") == 0)
        return 0;
    // 64-bit with a cap keeps long pieces from overflowing; any value past
    // the cap is already larger than every field a real version has.
    constexpr int64_t kCap = int64_t(1) << 40;
    int64_t v = 0;
    for (size_t i = 0; piece[i] != '\0'; ++i) {
        auto c = static_cast<unsigned char>(piece[i]);
        int d = (c >= '0' && c <= '9') ? c - '0' : c - 86;
        v += d;
        if (i != 0)
            v *= 16;
        if (v > kCap)
            v = kCap;
        if (v < -kCap)
            v = -kCap;
    }
    if (v < 0)
        return 0;
    return v > INT_MAX ? INT_MAX : int(v);
}

void CFileUpdater::ParseVersion(const char* text, int out[4]) {
    for (int i = 0; i < kFields; ++i)
        out[i] = 0;
    if (!text)
        return;
    // Tokenizer semantics: runs of "." separate, empty pieces do not count.
    int field = 0;
    const char* p = text;
    while (*p != '\0' && field < kFields) {
        while (*p == '.')
            ++p;
        if (*p == '\0')
            break;
        const char* end = strchr(p, '.');
        std::string piece = end ? std::string(p, end) : std::string(p);
        int v = LeadingNumber(piece);
        out[field++] = v != 0 ? v : LetterValue(piece.c_str());
        p = end ? end : p + piece.size();
    }
}

int CFileUpdater::CompareVersion(const char* a, const char* b, int* same) {
    int va[kFields], vb[kFields];
    ParseVersion(a, va);
    ParseVersion(b, vb);
    if (same)
        *same = 0;
    for (int i = 0; i < kFields; ++i) {
        if (va[i] < vb[i])
            return 0;
        if (va[i] > vb[i])
            return 1;
    }
    if (same)
        *same = 1;
    return 0;
}

void CFileUpdater::GetLastVersion() {
    if (m_nGetLast) {
        if (m_szPrimaryVersion[0] != '\0') {
            PatchLog("GetLastVersion Set LocalVersion %s to PriVersion %s\n", m_szLocalVersion,
                     m_szPrimaryVersion);
            CopyText(m_szLocalVersion, sizeof(m_szLocalVersion), m_szPrimaryVersion);
        } else if (m_szEndVersion[0] != '\0') {
            PatchLog("GetLastVersion Set LocalVersion %s to EndVersion %s\n", m_szLocalVersion,
                     m_szEndVersion);
            CopyText(m_szLocalVersion, sizeof(m_szLocalVersion), m_szEndVersion);
        }
        return;
    }
    if (m_nManualVersion && m_szManualVersion[0] != '\0')
        CopyText(m_szLocalVersion, sizeof(m_szLocalVersion), m_szManualVersion);
}

int CFileUpdater::CheckUpdateListVersion() {
    const std::string updatePath = plat::JoinPath(m_szUpdatePath, "update.uvf");
    UpdateLog("[CFileUpdater::CheckUpdateListVersion()] : %s\n", updatePath.c_str());
    m_UpdateVersion.SetPath(updatePath.c_str());
    if (!m_UpdateVersion.LoadUpdateVersion()) {
        UpdateLog("[CFileUpdater::CheckUpdateListVersion()]File Read Fail : %s\n",
                  updatePath.c_str());
        // Nothing trustworthy to decide on: starting no patch is safer than
        // planning from a decision state left over from an earlier check.
        return 1;
    }
    UpdateLog("[CFileUpdater::CheckUpdateListVersion()]File Read SUCCESS : %s\n",
              updatePath.c_str());
    CopyPublishedState(m_UpdateVersion);

    const std::string localPath = plat::JoinPath(m_szUpdatePath, "version.uvf");
    UpdateLog("[CFileUpdater::CheckUpdateListVersion()]Path Second : %s\n", localPath.c_str());
    m_UpdateVersion.SetPath(localPath.c_str());
    if (!m_UpdateVersion.LoadUpdateVersion()) {
        UpdateLog("[CFileUpdater::CheckUpdateListVersion()] iniFile Read Fail Second : %s\n",
                  localPath.c_str());
        PatchLog("CheckUpdateListVersion LoadUpdateVersion Failed %s\n", localPath.c_str());
        PatchLog(
            "New Information Update Name:%s Latest Version:%s Primary Version:%s End "
            "Version:%s\n",
            m_szNewUpdateName, m_szLatestVersion, m_szPrimaryVersion, m_szEndVersion);
        m_nUpdateKind = UPDATE_FULL_VERSION;
        UpdateLog("UPDATE_FULL_VERSION Setting 3\n");
        return 0;
    }
    CopyLocalState();
    GetLastVersion();
    return DecideUpdate();
}

void CFileUpdater::CopyPublishedState(const CUpdateVersion& v) {
    CopyText(m_szNewUpdateName, sizeof(m_szNewUpdateName), v.m_szUpdateName);
    CopyText(m_szTargetVersion, sizeof(m_szTargetVersion), v.m_szUpdateVersion);
    CopyText(m_szNewMinorVersion, sizeof(m_szNewMinorVersion), v.m_szMinorVersion);
    CopyText(m_szLatestVersion, sizeof(m_szLatestVersion), v.m_szLatestVersion);
    CopyText(m_szPrimaryVersion, sizeof(m_szPrimaryVersion), v.m_szPrimaryVersion);
    CopyText(m_szEndVersion, sizeof(m_szEndVersion), v.m_szEndVersion);
    CopyText(m_szNewLauncherVersion, sizeof(m_szNewLauncherVersion), v.m_szLauncherVersion);
}

void CFileUpdater::CopyLocalState() {
    const CUpdateVersion& v = m_UpdateVersion;
    CopyText(m_szLocalUpdateName, sizeof(m_szLocalUpdateName), v.m_szUpdateName);
    CopyText(m_szLocalVersion, sizeof(m_szLocalVersion), v.m_szUpdateVersion);
    CopyText(m_szLocalMinorVersion, sizeof(m_szLocalMinorVersion), v.m_szMinorVersion);
    CopyText(m_szLocalLatestVersion, sizeof(m_szLocalLatestVersion), v.m_szLatestVersion);
    CopyText(m_szLocalPrimaryVersion, sizeof(m_szLocalPrimaryVersion), v.m_szPrimaryVersion);
    CopyText(m_szLocalEndVersion, sizeof(m_szLocalEndVersion), v.m_szEndVersion);
    CopyText(m_szExecutePath, sizeof(m_szExecutePath), v.m_szExecutePath);
    const char* prefix = " CFileUpdater::CheckUpdateListVersion() - ";
    UpdateLog("%sUpdateName : %s \n", prefix, m_szLocalUpdateName);
    UpdateLog("%sGetMajorUpdateVersion : %s \n", prefix, m_szLocalVersion);
    UpdateLog("%sGetMinorUpdateVersion : %s \n", prefix, m_szLocalMinorVersion);
    UpdateLog("%sLatestVersion : %s \n", prefix, m_szLocalLatestVersion);
    UpdateLog("%sPrimaryVersion : %s \n", prefix, m_szLocalPrimaryVersion);
    UpdateLog("%sEndVersion : %s \n", prefix, m_szLocalEndVersion);
    UpdateLog("%sExcutePath : %s \n", prefix, m_szExecutePath);
}

int CFileUpdater::DecideUpdate() {
    int same = 0;
    int localNewer = CompareVersion(m_szLocalVersion, m_szLatestVersion, &same);
    if (same)
        return DecideMinorUpdate();
    if (localNewer) {
        UpdateLog("CheckFileListVersion Local Version(%s) is higher than Latest Version(%s)\n",
                  m_szLocalVersion, m_szLatestVersion);
        return 1;
    }
    PatchLog("Local Information Update Name:%s Update Version:%s\n", m_szLocalUpdateName,
             m_szLocalVersion);
    PatchLog(
        "New Information Update Name:%s Latest Version:%s Primary Version:%s End "
        "Version:%s\n",
        m_szNewUpdateName, m_szLatestVersion, m_szPrimaryVersion, m_szEndVersion);
    if (CompareVersion(m_szEndVersion, m_szLocalVersion, &same) == 1) {
        // Older than the start of every incremental chain: only the full
        // archive can bring this installation up.
        CopyText(m_szTargetVersion, sizeof(m_szTargetVersion), m_szLatestVersion);
        UpdateLog("Set UPDATE_FULL_VERSION\n");
        m_nUpdateKind = UPDATE_FULL_VERSION;
        UserLog("CheckUpdateListVersion -  UPDATE_FULL_VERSION (%s)", m_szTargetVersion);
    } else {
        UpdateLog("Set UPDATE_MAJOR_VERSION\n");
        UserLog("CheckUpdateListVersion -  UPDATE_MAJOR_VERSION (%s)", m_szTargetVersion);
        m_nUpdateKind = UPDATE_MAJOR_VERSION;
    }
    return 0;
}

int CFileUpdater::DecideMinorUpdate() {
    if (strcmp(m_szNewMinorVersion, kUnknown) == 0)
        return 1;
    int same = 0;
    int localNewer = CompareVersion(m_szLocalMinorVersion, m_szNewMinorVersion, &same);
    if (same) {
        UpdateLog("*** Same Version from Local Minor Version with Latest Minor Version ***\n");
        return 1;
    }
    if (localNewer) {
        UpdateLog(
            "CheckUpdateListVersion Local Minor Version(%s) is higher than Latest Minor "
            "Version(%s)\n",
            m_szLocalMinorVersion, m_szNewMinorVersion);
        return 1;
    }
    UpdateLog(
        "CheckFileListVersion Local Minor Version(%s) is lower than Latest Minor "
        "Version(%s)\n",
        m_szLocalMinorVersion, m_szNewMinorVersion);
    CopyText(m_szTargetVersion, sizeof(m_szTargetVersion), m_szLatestVersion);
    m_nUpdateKind = UPDATE_MINOR_VERSION;
    UserLog("CheckUpdateListVersion -  UPDATE_MINOR_VERSION (%s)", m_szNewMinorVersion);
    return 0;
}

int CFileUpdater::CheckOnlyVersion() {
    UpdateLog("CheckOnlyVersion Start\n");
    if (!m_pProtocol ||
        !m_pProtocol->ConnectTo(m_szServerAddress, m_nServerPort, m_szServerUser, m_szServerPass))
        return 3;

    CallbackInfo() = UPDATE_CALLBACK_INFO{};
    InstallStopEvent();
    const std::string updatePath = plat::JoinPath(m_szUpdatePath, "update.uvf");
    int downloaded = m_pProtocol->DownloadFile("update.uvf", updatePath.c_str());
    ReleaseStopEvent();
    if (!downloaded)
        return 4;

    ClearVersionRecords();
    // A reader of its own: this check may run on the caller's thread and
    // must not disturb the run's reader.
    CUpdateVersion reader;
    reader.SetPath(updatePath.c_str());
    if (!reader.LoadUpdateVersion())
        return 2;
    CopyText(m_szLatestVersion, sizeof(m_szLatestVersion), reader.m_szLatestVersion);
    CopyText(m_szNewMinorVersion, sizeof(m_szNewMinorVersion), reader.m_szMinorVersion);
    reader.SetPath(plat::JoinPath(m_szUpdatePath, "version.uvf").c_str());
    if (!reader.LoadUpdateVersion())
        return 2;
    CopyText(m_szLocalVersion, sizeof(m_szLocalVersion), reader.m_szUpdateVersion);
    CopyText(m_szLocalMinorVersion, sizeof(m_szLocalMinorVersion), reader.m_szMinorVersion);
    return CompareOnly();
}

int CFileUpdater::CompareOnly() {
    int same = 0;
    int localNewer = CompareVersion(m_szLocalVersion, m_szLatestVersion, &same);
    if (same) {
        if (strcmp(m_szNewMinorVersion, kUnknown) == 0)
            return 1;
        localNewer = CompareVersion(m_szLocalMinorVersion, m_szNewMinorVersion, &same);
        if (same)
            return 1;
        if (localNewer) {
            UpdateLog(
                "CheckFileListVersion Local Minor Version(%s) is higher than Latest Minor "
                "Version(%s)\n",
                m_szLocalMinorVersion, m_szNewMinorVersion);
            return 1;
        }
        UpdateLog(
            "CheckFileListVersion Local Minor Version(%s) is lower than Latest Minor "
            "Version(%s)\n",
            m_szLocalMinorVersion, m_szNewMinorVersion);
        return 0;
    }
    if (localNewer) {
        UpdateLog("CheckFileListVersion Local Version(%s) is higher than Latest Version(%s)\n",
                  m_szLocalVersion, m_szLatestVersion);
        return 1;
    }
    return 0;
}
