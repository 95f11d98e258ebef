// Feeds arbitrary bytes to the version-file reader as a stored (scrambled)
// file and walks every entry it reports, so a count that does not fit the
// file shows up as a read past the buffer.
#include <cstdint>
#include <cstring>
#include <string>

#include "../support/TempDir.h"
#include "engine/UpdateVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const varntest::TempDir dir{{.prefix = "varn-fuzz-uvf"}};
    static const std::string path = dir / "v.uvf";
    varntest::TempDir::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));

    CUpdateVersion reader;
    reader.SetPath(path.c_str());
    if (!reader.LoadUpdateVersion())
        return 0;
    volatile size_t sink = strlen(reader.m_szUpdateName) + strlen(reader.m_szExecutePath) +
                           strlen(reader.m_szEndVersion);
    uint32_t count = 0;
    const UpdateFileEntry* list = reader.GetFileList(&count);
    for (uint32_t i = 0; i < count; ++i)
        sink = sink + list[i].byUpdateType + list[i].nFileSize + strnlen(list[i].szFileName, 260);
    (void)sink;
    return 0;
}
