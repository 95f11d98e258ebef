// Feeds arbitrary bytes to the readers of a signed patch root: the
// manifest, the public key and signature texts, and the zip directory
// reader the repair uses on what a server sends. Checks that an accepted
// manifest names only safe paths and reads back from its own text, and
// that nothing verifies under a key the input does not control.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/RootManifest.h"
#include "archive/Signature.h"
#include "archive/ZipDirectory.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    CRootManifest manifest;
    if (manifest.Parse(text)) {
        for (const ManifestFile& f : manifest.files) {
            Check(CRootManifest::IsSafeName(f.name));
            Check(f.pack.empty() || CRootManifest::IsSafeName(f.pack));
        }
        for (const ManifestArchive& a : manifest.archives)
            Check(CRootManifest::IsSafeName(a.name));
        CRootManifest again;
        Check(again.Parse(manifest.Format()));
        Check(again.Format() == manifest.Format());
    }

    // A fixed key: an input can be a signature but never a matching one
    // (the chance of forging Ed25519 is not a fuzzer's).
    static CPublisherKey key = [] {
        CPublisherKey k;
        k.Load("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c");
        return k;
    }();
    Check(!key.Verify(data, size, text));
    CPublisherKey loaded;
    loaded.Load(text);
    uint8_t raw[64];
    CPublisherKey::DecodeHex(text, raw, sizeof raw);

    // The repair reads a zip's end and directory from pieces a server sends.
    uint64_t dirOffset = 0, dirSize = 0;
    if (CZipDirectory::FindDirectory(text, size + 100, &dirOffset, &dirSize))
        Check(dirOffset + dirSize <= size + 100);
    std::vector<ZipDirEntry> entries;
    if (CZipDirectory::ParseDirectory(text, &entries)) {
        for (const ZipDirEntry& e : entries) {
            std::string content;
            CZipDirectory::Unpack(text.substr(0, std::min<size_t>(text.size(), e.compressedSize)),
                                  e, &content);
        }
    }
    uint64_t offset = 0;
    CZipDirectory::DataOffset(text, &offset);
    return 0;
}
