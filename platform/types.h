// Basic integer types and the error codes that the server branches on.
// The numbering follows the classic system error codes, because those numbers
// are printed to users, stored in the event log and compared by callers.
#pragma once

#include <cstdint>

namespace platform {

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using LONG = std::int32_t;

constexpr DWORD kInfinite = 0xFFFFFFFF;

// Error codes.
constexpr DWORD kErrorSuccess = 0;
constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorPathNotFound = 3;
constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorBadFormat = 11;
constexpr DWORD kErrorInvalidData = 13;
constexpr DWORD kErrorOutOfMemory = 14;
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorReadFault = 30;
constexpr DWORD kErrorNotSupported = 50;
constexpr DWORD kErrorBadNetPath = 53;
constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorBusy = 170;
constexpr DWORD kErrorAlreadyExists = 183;
constexpr DWORD kErrorFilenameExcedRange = 206;
constexpr DWORD kErrorMoreData = 234;
constexpr DWORD kErrorWaitTimeout = 258;
constexpr DWORD kErrorNoMoreItems = 259;
constexpr DWORD kErrorTooManyPosts = 298;
constexpr DWORD kErrorNotOwner = 288;
constexpr DWORD kErrorKeyDeleted = 1018;
constexpr DWORD kErrorServiceRequestTimeout = 1053;
constexpr DWORD kErrorServiceNoThread = 1054;
constexpr DWORD kErrorServiceAlreadyRunning = 1056;
constexpr DWORD kErrorInvalidServiceControl = 1052;
constexpr DWORD kErrorServiceDoesNotExist = 1060;
constexpr DWORD kErrorServiceCannotAcceptCtrl = 1061;
constexpr DWORD kErrorServiceNotActive = 1062;
constexpr DWORD kErrorFailedServiceControllerConnect = 1063;
constexpr DWORD kErrorServiceMarkedForDelete = 1072;
constexpr DWORD kErrorServiceExists = 1073;
constexpr DWORD kErrorInvalidServiceName = 1213;
constexpr DWORD kErrorTimeout = 1460;

// The calling thread's last error, as the platform calls leave it.
DWORD GetLastError();
void SetLastError(DWORD error);

}  // namespace platform
