// Arbitrary entry names in a well-formed archive: a name is either refused
// or unpacked below the output directory, never anywhere else.
#include <minizip/zip.h>

#include <string>

#include "ZipFuzzSandbox.h"
#include "platform/Path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zipfuzz::Sandbox box;
    // Two names, so that a directory made by the first can be used by the second.
    const std::string input(reinterpret_cast<const char*>(data), size < 600 ? size : 600);
    const size_t cut = input.find('\n');
    const std::string names[2] = {input.substr(0, cut),
                                  cut == std::string::npos ? "" : input.substr(cut + 1)};

    zipFile zf = zipOpen64(box.archive.c_str(), APPEND_STATUS_CREATE);
    if (zf == nullptr)
        return 0;
    zip_fileinfo zi{};
    for (const std::string& name : names)
        if (!name.empty() && zipOpenNewFileInZip(zf, name.c_str(), &zi, nullptr, 0, nullptr, 0,
                                                 nullptr, 8, 1) == ZIP_OK)
            zipWriteInFileInZip(zf, "x", 1), zipCloseFileInZip(zf);
    zipClose(zf, nullptr);

    const int ok = zipfuzz::Extract(box);
    // A climbing or absolute name must have been refused.
    for (const std::string& name : names)
        if (ok && !name.empty() && name.find('\0') == std::string::npos &&
            !plat::IsSafeRelativeName(name))
            std::abort();
    box.CheckAndClean();
    return 0;
}
