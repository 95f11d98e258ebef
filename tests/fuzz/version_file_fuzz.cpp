// Feeds arbitrary bytes to the version-file reader as a stored (scrambled)
// file and walks every entry it reports, so a count that does not fit the
// file shows up as a read past the buffer.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/UpdateVersion.h"

namespace {

std::string TempFile() {
    static std::string path;
    if (path.empty()) {
        char dir[] = "/tmp/varn-fuzz-uvf-XXXXXX";
        if (mkdtemp(dir))
            path = std::string(dir) + "/v.uvf";
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = TempFile();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);

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
