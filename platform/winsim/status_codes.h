// Error codes the model returns that the product itself never names, so the
// platform header does not declare them.
#pragma once

#include "platform/win32.h"

namespace winsim {

inline constexpr DWORD kErrorHandleDiskFull = 39;              // ERROR_HANDLE_DISK_FULL
inline constexpr DWORD kErrorInvalidLevel = 124;               // ERROR_INVALID_LEVEL
inline constexpr DWORD kErrorPipeNotConnected = 233;           // ERROR_PIPE_NOT_CONNECTED
inline constexpr DWORD kErrorInvalidServiceControl = 1052;     // ERROR_INVALID_SERVICE_CONTROL
inline constexpr DWORD kErrorDatabaseDoesNotExist = 1065;      // ERROR_DATABASE_DOES_NOT_EXIST
inline constexpr DWORD kErrorNoImpersonationToken = 1309;      // ERROR_NO_IMPERSONATION_TOKEN
inline constexpr DWORD kErrorBadImpersonationLevel = 1346;     // ERROR_BAD_IMPERSONATION_LEVEL
inline constexpr DWORD kErrorBadTokenType = 1349;              // ERROR_BAD_TOKEN_TYPE
inline constexpr DWORD kErrorCantResolveFilename = 1921;       // ERROR_CANT_RESOLVE_FILENAME
inline constexpr DWORD kErrorCtxWinstationNotFound = 7022;     // ERROR_CTX_WINSTATION_NOT_FOUND

}  // namespace winsim
