// The installed DirectX version: found from the system's DirectX libraries,
// packed into a number and written as text ("9.0c").
//
// A version is major, minor and a letter (' ' when there is none). Packed:
// ((major * 256) + minor) * 256, plus letter - 'a' + 1 for a lower-case
// letter; 0 means nothing was found (9.0c packs to 0x00090003). Text:
// "9.0" without a letter, "9.0c" with one.
//
// Functions returning int give 1 on success, 0 on failure with the thread's
// last error set (plat::GetLastError). Any thread; nothing is shared.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

struct DxVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    char letter = ' ';
};

uint32_t PackDxVersion(uint32_t major, uint32_t minor, char letter);
// Writes the text form into text, cut to capacity - 1 characters; nothing
// when text is null or capacity is below 1.
void FormatDxVersion(uint32_t major, uint32_t minor, char letter, char* text, int capacity);

// What is known of one Windows image file (a library of the system
// directory, or the game's program).
struct PeFileFacts {
    bool isImage = false;      // a Windows image whose headers could be read
    bool is64 = false;         // a 64-bit image
    bool wineBuiltin = false;  // one of Wine's own libraries
    bool hasVersion = false;   // a readable fixed version record
    uint64_t version = 0;      // its file version, a.b.c.d as a<<48 | ... | d
};
// Describes the library of that file name ("d3d9.dll"); a missing file is
// described as knowing nothing.
using DxLibraryProbe = std::function<PeFileFacts(const char* fileName)>;

// The inference table: each known library that matches its row's condition
// sets the result, and the last matching row wins; 0.0 with letter ' ' when
// no row matches. The libraries' versions can show no more than 9.0, so
// Wine's own d3d9.dll (which implements 9.0c) counts as 9.0c.
DxVersion InferDxVersion(const DxLibraryProbe& probe);

// The facts of one file; nothing known when it is missing, is not a regular
// file or is not a readable Windows image.
PeFileFacts ReadPeFileFacts(const std::string& path);

// The platform's DirectX diagnostic service. This system has none: always
// 0 with last error 50 (not supported); the outputs are left as they are.
int QueryDxDiagVersion(uint32_t* major, uint32_t* minor, char* letter);

// InferDxVersion over the files of systemDir. An empty or null systemDir
// gives 0.0 with letter ' '. 1, or 0 with last error 87 when an output is
// null.
int InferDxVersionFromFiles(const char* systemDir, uint32_t* major, uint32_t* minor, char* letter);

// The file version of a Windows image's fixed version record. 0 with last
// error 87 when path or version is null, 8 when memory runs out, and 31
// when the file has no record (missing, unreadable, not an image, or an
// image without a well-formed record).
int ReadFileVersion(const char* path, uint64_t* version);

// Sets *packed to 0 and text to "" first (text only when capacity >= 1),
// asks the diagnostic service, then the libraries of systemDir; the letter
// is taken in lower case. 0 only when both ways fail (an output is null).
int DetectDxVersion(const char* systemDir, uint32_t* packed, char* text, int capacity);
