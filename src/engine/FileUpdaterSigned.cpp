// CFileUpdater: signed patch roots. With the publisher's public key (built
// in, or Update/publisher.key) every update.uvf, versionlist.uvf and
// manifest.uvf must carry a valid detached signature, and every archive must
// have the SHA-256 the signed manifest gives it. Without a key nothing here
// changes a run.
#include <string>

#include "engine/FileUpdater.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace {

#ifdef VARN_PUBLISHER_KEY
constexpr const char* kBuiltInKey = VARN_PUBLISHER_KEY;
#else
constexpr const char* kBuiltInKey = "";
#endif

}  // namespace

int CFileUpdater::LoadPublisherKey() {
    m_PublisherKey.Clear();
    m_RootManifest = CRootManifest();
    m_bManifestLoaded = false;
    std::string text = kBuiltInKey;
    const std::string path = plat::JoinPath(m_szUpdatePath, kPublisherKeyName);
    if (text.empty() && !plat::ReadWholeFile(path, text))
        return 1;  // no key: an unsigned root is accepted as ever
    if (m_PublisherKey.Load(text))
        return 1;
    // A key file that cannot be read as one must not quietly turn the
    // checks off.
    UpdateLog("Publisher Key Invalid %s\n", path.c_str());
    RecordStringError(0, IDS_SIGNATURE_INVALID, kStringBuffer, CUSTOM_ERROR_SIGNATURE_INVALID,
                      {path.c_str()});
    return 0;
}

int CFileUpdater::FetchRootFile(const char* remoteName, const char* localPath) {
    m_bRootFileRefused = false;
    if (!FetchFile(remoteName, localPath))
        return 0;
    if (!m_PublisherKey.Loaded())
        return 1;
    const std::string remoteSig = std::string(remoteName) + ".sig";
    const std::string localSig = std::string(localPath) + ".sig";
    std::string data, signature;
    const bool fetched = FetchFile(remoteSig.c_str(), localSig.c_str()) != 0;
    const bool verified = fetched && plat::ReadWholeFile(localPath, data) &&
                          plat::ReadWholeFile(localSig, signature) &&
                          m_PublisherKey.Verify(data.data(), data.size(), signature);
    plat::DeleteFile(localSig);
    if (verified)
        return 1;
    // Nothing may go on from a file the publisher did not sign.
    plat::DeleteFile(localPath);
    m_bRootFileRefused = true;
    UpdateLog("Signature Invalid %s\n", remoteName);
    RecordStringError(0, IDS_SIGNATURE_INVALID, kStringBuffer, CUSTOM_ERROR_SIGNATURE_INVALID,
                      {remoteName});
    return 0;
}

int CFileUpdater::FetchRootManifest() {
    if (m_bManifestLoaded)
        return 1;
    const std::string local = plat::JoinPath(m_szUpdatePath, CRootManifest::kFileName);
    std::string text;
    const bool fetched = FetchRootFile(CRootManifest::kFileName, local.c_str()) != 0;
    if (fetched && plat::ReadWholeFile(local, text) && m_RootManifest.Parse(text)) {
        m_bManifestLoaded = true;
        return 1;
    }
    if (fetched) {
        UpdateLog("Manifest Invalid %s\n", local.c_str());
        RecordStringError(0, IDS_SIGNATURE_INVALID, kStringBuffer, CUSTOM_ERROR_SIGNATURE_INVALID,
                          {CRootManifest::kFileName});
    }
    return 0;
}

int CFileUpdater::CheckArchiveDigest(const char* remoteName, const char* localPath) {
    if (!m_PublisherKey.Loaded())
        return 1;
    if (FetchRootManifest() == 0)
        return 0;
    std::string name = remoteName;
    for (char& c : name)
        if (c == '/')
            c = '\\';
    const ManifestArchive* listed = m_RootManifest.FindArchive(name);
    // The sampled fingerprint passed already; this reads every byte.
    const std::string actual = CSha256::OfFile(localPath);
    if (listed && actual == listed->sha256)
        return 1;
    UpdateLog("Archive Digest Invalid %s (%s, listed %s)\n", localPath, actual.c_str(),
              listed ? listed->sha256.c_str() : "none");
    plat::DeleteFile(localPath);
    RecordStringError(0, IDS_ARCHIVE_DIGEST, kStringBuffer, CUSTOM_ERROR_ARCHIVE_DIGEST,
                      {localPath});
    return 0;
}
