// The progress record, notification codes, run results, update kinds and
// custom error codes shared by every part of the update library and its
// hosts. The numbers are part of the hosts' interface and must not change.
#pragma once
#include <cstdint>

#include "base/Export.h"

#pragma pack(push, 8)
// The one shared progress record; its address is the second argument of
// every notification. Written by the notifying thread just before the
// callback, read only inside the callback.
struct UPDATE_CALLBACK_INFO {
    char szMajorVersion[20];
    char szMinorVersion[20];
    int32_t nFileCount;
    int32_t nFileIndex;
    char szFileName[260];
    uint64_t nFileSize;
    uint64_t nFileReceived;
    uint64_t nTotalSize;
    uint64_t nLastRead;
    uint64_t nTotalReceived;
    int32_t nErrorCode;
    int32_t nCustomErrorCode;
    char szErrorMsg[260];
    uint64_t nPercent;
};
#pragma pack(pop)

// The progress callback: runs on the thread that raises the notification.
typedef void (*UPDATE_CALLBACK)(int32_t code, UPDATE_CALLBACK_INFO* info);

// Callback window (HWND) as an opaque value: the hosts use it to route
// notifications to their own thread.
using WindowHandle = void*;

enum : int32_t {
    NOTIFY_FTP_CONNECTING = 0,
    NOTIFY_FTP_CONNECTED = 1,
    NOTIFY_FTP_CONNECT_FAILED = 2,
    NOTIFY_FTP_CLOSED = 3,
    NOTIFY_ERROR = 4,
    NOTIFY_DOWNLOAD_START = 5,
    NOTIFY_DOWNLOAD_PROGRESS = 6,
    NOTIFY_DOWNLOAD_END = 7,
    NOTIFY_EXTRACT_START = 8,
    NOTIFY_EXTRACT_FILE = 9,
    NOTIFY_EXTRACT_END = 10,
    NOTIFY_APPLY_START = 11,
    NOTIFY_APPLY_FILE = 12,
    NOTIFY_UPDATE_COMPLETE = 13,
    NOTIFY_UPDATE_FAILED = 14,
    NOTIFY_FULL_VERSION_NEEDED = 15,
    NOTIFY_PERCENT = 16,
    // The run ended by handing over to a newer launcher: the host closes
    // and then calls CUpdateModule::ExecuteLauncherHandOver.
    NOTIFY_LAUNCHER_HANDOVER = 17,
    // Installation check: szFileName was checked (nFileIndex of nFileCount,
    // nTotalReceived of nTotalSize bytes read), or was repaired.
    NOTIFY_CHECK_FILE = 18,
    NOTIFY_REPAIR_FILE = 19,
    // The check has ended (CUpdateModule::GetCheckResult says how).
    NOTIFY_CHECK_END = 20,
};

// Results of an installation check (CUpdateModule::StartInstallCheck).
enum : int {
    CHECK_ALL_WELL = 0,        // nothing missing or damaged (any more)
    CHECK_DAMAGED = 1,         // files missing or damaged remain
    CHECK_FAILED = 2,          // no manifest, another version, ... (error recorded)
    CHECK_CONNECT_FAILED = 3,  // the patch server could not be reached
    CHECK_STOPPED = 4,         // a stop request ended it
};

// Results of CUpdateModule::UpdateRun.
enum : int {
    RUN_FAILED = 0,
    RUN_OK = 1,
    RUN_CONNECT_FAILED = 3,
    RUN_UPDATE_FILE_FAILED = 4,
    RUN_LAUNCHER_UPDATED = 5,
    RUN_FULL_VERSION_NEEDED = 6,
    RUN_PATCH_FAILED = 7,
    RUN_ARCHIVE_NAME_FAILED = 8,
    // A newer launcher is published but could not be fetched, unpacked or
    // made ready to start, or this launcher was just updated and is still
    // older (error recorded).
    RUN_LAUNCHER_FAILED = 9,
};

// Update kinds decided by the engine.
enum : int {
    UPDATE_MINOR_VERSION = 0,
    UPDATE_MAJOR_VERSION = 1,
    UPDATE_FULL_VERSION = 2,
    UPDATE_LAUNCHER_VERSION = 3,
    UPDATE_NONE = 4,
};

// Launcher types of the transfer object's remote path choice.
enum : unsigned char {
    LAUNCHER_TYPE_SERVICE = 0,
    LAUNCHER_TYPE_TEST = 1,
};

// Service type stored by SetConnectInfo; only 0 has a meaning here.
enum eSERVICE_TYPE : int32_t {
    SERVICE_TYPE_DEFAULT = 0,
};

// Kinds of the last-error record.
enum : int {
    ERROR_KIND_NONE = 0,
    ERROR_KIND_CUSTOM = 1,
    ERROR_KIND_SYSTEM = 2,
};

// Custom error codes of the last-error record.
enum : int {
    CUSTOM_ERROR_NONE = 0,
    CUSTOM_ERROR_ALREADY_RUNNING = 101,
    CUSTOM_ERROR_GAME_RUNNING = 102,
    CUSTOM_ERROR_CLIENTLIST_DECODE = 200,
    CUSTOM_ERROR_LAUNCHER_COPY = 201,
    CUSTOM_ERROR_LAUNCHER_RESTART = 202,
    CUSTOM_ERROR_LAUNCHER_RUN_FOR_COPY = 203,
    CUSTOM_ERROR_LAUNCHER_STILL_OLD = 204,
    CUSTOM_ERROR_ARCHIVE_CHECK = 1000,
    CUSTOM_ERROR_FILELIST_EMPTY = 1001,
    CUSTOM_ERROR_VERSION_COPY = 1002,
    CUSTOM_ERROR_ARCHIVE_DOWNLOAD = 1003,
    CUSTOM_ERROR_ARCHIVE_EXTRACT = 1004,
    CUSTOM_ERROR_NORMAL_FILE_EXCEPTION = 1100,
    CUSTOM_ERROR_NORMAL_FILE_SHARING = 1101,
    CUSTOM_ERROR_NORMAL_FILE_EXISTS = 1102,
    CUSTOM_ERROR_NORMAL_FILE_NO_SOURCE = 1103,
    CUSTOM_ERROR_NORMAL_FILE_ACCESS = 1104,
    CUSTOM_ERROR_NORMAL_FILE_OTHER = 1150,
    CUSTOM_ERROR_PACK_SYSTEM = 1200,
    CUSTOM_ERROR_PACK_CREATE = 1202,
    CUSTOM_ERROR_PACK_OPEN = 1203,
    CUSTOM_ERROR_PACK_TEMP_OPEN = 1204,
    CUSTOM_ERROR_PACK_TEMP_SUB_FILE_OPEN = 1205,
    CUSTOM_ERROR_PACK_TEMP_UVF_CREATE = 1206,
    CUSTOM_ERROR_PACK_TEMP_UVF_WRITE = 1207,
    CUSTOM_ERROR_PACK_GET_HASH = 1208,
    CUSTOM_ERROR_PACK_INVALID_HASH = 1209,
    CUSTOM_ERROR_PACK_ADD_FILE = 1210,
    CUSTOM_ERROR_CONFIG_FILE_EXCEPTION = 1300,
    CUSTOM_ERROR_DX_EXCEPTION = 1400,
    CUSTOM_ERROR_DX_DETECT = 1401,
    CUSTOM_ERROR_DX_NOT_FOUND = 1402,
    CUSTOM_ERROR_DX_TOO_OLD = 1403,
    CUSTOM_ERROR_EXECUTE = 2003,
    CUSTOM_ERROR_CONNECT = 2004,
    CUSTOM_ERROR_DOWNLOAD_PLAN = 2005,
    CUSTOM_ERROR_ARCHIVE_NAME = 2006,
    // Signed patch roots: a version file or the manifest without a valid
    // signature (or an unreadable key file), an archive whose SHA-256 is
    // not the signed manifest's.
    CUSTOM_ERROR_SIGNATURE_INVALID = 1500,
    CUSTOM_ERROR_ARCHIVE_DIGEST = 1501,
    // Installation check: it could not be made; files could not be repaired.
    CUSTOM_ERROR_CHECK_FAILED = 1502,
    CUSTOM_ERROR_REPAIR_FAILED = 1503,
};

// String ids of the language bundle asked for by the update library; the
// comment gives the format arguments in order.
enum : unsigned {
    IDS_ALREADY_RUNNING = 3000,        // none
    IDS_GAME_RUNNING = 3001,           // none
    IDS_CLIENTLIST_DECODE = 3002,      // list path, plain-copy path (buffer 1024)
    IDS_LAUNCHER_COPY = 3003,          // none
    IDS_LAUNCHER_RESTART = 3004,       // none
    IDS_LAUNCHER_RUN_FOR_COPY = 3005,  // none
    IDS_LAUNCHER_STILL_OLD = 3045,     // own version, published version
    IDS_ARCHIVE_CHECK = 3006,          // archive path
    IDS_FILELIST_EMPTY = 3007,         // none
    IDS_VERSION_COPY = 3008,           // target path
    IDS_ARCHIVE_DOWNLOAD = 3009,       // none (buffer 520)
    IDS_ARCHIVE_EXTRACT = 3010,        // archive path, unpack directory
    IDS_NORMAL_FILE_EXCEPTION = 3011,  // loaded only
    IDS_NORMAL_FILE_SHARING = 3012,    // target path
    IDS_NORMAL_FILE_EXISTS = 3013,     // target path
    IDS_NORMAL_FILE_NO_SOURCE = 3014,  // source path
    IDS_NORMAL_FILE_ACCESS = 3015,     // target path
    IDS_NORMAL_FILE_OTHER = 3016,      // target path
    IDS_PACK_CREATE = 3019,            // pack path (buffer 520, also 3020-3027)
    IDS_PACK_OPEN = 3020,
    IDS_PACK_TEMP_OPEN = 3021,
    IDS_PACK_TEMP_SUB_FILE_OPEN = 3022,
    IDS_PACK_TEMP_UVF_CREATE = 3023,
    IDS_PACK_GET_HASH = 3025,
    IDS_PACK_INVALID_HASH = 3026,
    IDS_PACK_ADD_FILE = 3027,
    IDS_CONFIG_FILE_EXCEPTION = 3028,  // loaded only
    IDS_DX_EXCEPTION = 3029,           // loaded only
    IDS_DX_DETECT = 3030,              // required version
    IDS_DX_NOT_FOUND = 3031,           // required version
    IDS_DX_TOO_OLD = 3032,             // installed version, required version
    IDS_EXECUTE_FAIL = 3035,           // the command line
    IDS_CONNECT_FAIL = 3036,           // none
    IDS_DOWNLOAD_PLAN_FAIL = 3037,     // none
    IDS_ARCHIVE_NAME_FAIL = 3038,      // none
    IDS_SIGNATURE_INVALID = 3046,      // file name or key path
    IDS_ARCHIVE_DIGEST = 3047,         // archive path
    IDS_MANIFEST_MISSING = 3048,       // manifest file name
    IDS_CHECK_VERSION = 3049,          // installed version, manifest version
    IDS_REPAIR_FAILED = 3050,          // archive name, reason
};

// Buffer sizes the callers give to string lookups.
constexpr int kStringBuffer = 260;
constexpr int kStringBufferLong = 520;   // 3009, 3019-3027
constexpr int kStringBufferHuge = 1024;  // 3002
