// Error codes the model returns that the product itself never names, so the
// platform header does not declare them.
#pragma once

#include "platform/win32.h"

namespace winsim {

inline constexpr DWORD kErrorHandleDiskFull = 39;              // ERROR_HANDLE_DISK_FULL
inline constexpr DWORD kErrorInvalidName = 123;                // ERROR_INVALID_NAME
inline constexpr DWORD kErrorInvalidLevel = 124;               // ERROR_INVALID_LEVEL
inline constexpr DWORD kErrorDirectory = 267;                  // ERROR_DIRECTORY
inline constexpr DWORD kErrorInvalidServiceControl = 1052;     // ERROR_INVALID_SERVICE_CONTROL
inline constexpr DWORD kErrorDatabaseDoesNotExist = 1065;      // ERROR_DATABASE_DOES_NOT_EXIST
inline constexpr DWORD kErrorNoImpersonationToken = 1309;      // ERROR_NO_IMPERSONATION_TOKEN
inline constexpr DWORD kErrorInvalidSid = 1337;                // ERROR_INVALID_SID
inline constexpr DWORD kErrorBadImpersonationLevel = 1346;     // ERROR_BAD_IMPERSONATION_LEVEL
inline constexpr DWORD kErrorBadTokenType = 1349;              // ERROR_BAD_TOKEN_TYPE
inline constexpr DWORD kErrorCtxWinstationNotFound = 7022;     // ERROR_CTX_WINSTATION_NOT_FOUND

}  // namespace winsim
