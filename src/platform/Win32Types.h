// Win32-style constants and small types used across the core. They keep the
// numbers that stored files, peers and the error table rely on.
#pragma once
#include <cstdint>

namespace plat {

constexpr int kMaxPath = 260;  // MAX_PATH: buffer of every path and message

// Win32 error codes the update logic tests for.
constexpr uint32_t ERROR_SUCCESS_CODE = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND_CODE = 3;
constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;
constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;
constexpr uint32_t ERROR_WRITE_FAULT_CODE = 29;
constexpr uint32_t ERROR_READ_FAULT_CODE = 30;
constexpr uint32_t ERROR_SHARING_VIOLATION_CODE = 32;
constexpr uint32_t ERROR_HANDLE_DISK_FULL_CODE = 39;
constexpr uint32_t ERROR_FILE_EXISTS_CODE = 80;  // CopyFile with failIfExists
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_DISK_FULL_CODE = 112;
constexpr uint32_t ERROR_INVALID_NAME_CODE = 123;
constexpr uint32_t ERROR_DIR_NOT_EMPTY_CODE = 145;
constexpr uint32_t ERROR_ALREADY_EXISTS_CODE = 183;
// A Windows program that cannot be run here (no Wine to start it).
constexpr uint32_t ERROR_BAD_EXE_FORMAT_CODE = 193;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE_CODE = 206;
constexpr uint32_t ERROR_OPERATION_ABORTED_CODE = 995;
constexpr uint32_t ERROR_NOT_SUPPORTED_CODE = 50;
constexpr uint32_t ERROR_GEN_FAILURE_CODE = 31;

// WaitForSingleObject results.
constexpr uint32_t WAIT_OBJECT_0_CODE = 0;
constexpr uint32_t WAIT_TIMEOUT_CODE = 258;
constexpr uint32_t WAIT_FAILED_CODE = 0xFFFFFFFFu;
constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

}  // namespace plat
