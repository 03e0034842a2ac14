// Built into the Windows builds only: the codes of win_errors.h are the
// platform's own.
#include <windows.h>

#include "telvor_common/win_errors.h"

namespace e = telvor::win_error;
static_assert(e::kSuccess == ERROR_SUCCESS);
static_assert(e::kFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(e::kPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(e::kAccessDenied == ERROR_ACCESS_DENIED);
static_assert(e::kInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(e::kNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(e::kInvalidData == ERROR_INVALID_DATA);
static_assert(e::kNotReady == ERROR_NOT_READY);
static_assert(e::kSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(e::kNotSupported == ERROR_NOT_SUPPORTED);
static_assert(e::kFileExists == ERROR_FILE_EXISTS);
static_assert(e::kInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(e::kDiskFull == ERROR_DISK_FULL);
static_assert(e::kInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(e::kInvalidLevel == ERROR_INVALID_LEVEL);
static_assert(e::kModuleNotFound == ERROR_MOD_NOT_FOUND);
static_assert(e::kProcNotFound == ERROR_PROC_NOT_FOUND);
static_assert(e::kEnvVarNotFound == ERROR_ENVVAR_NOT_FOUND);
static_assert(e::kFilenameExcedRange == ERROR_FILENAME_EXCED_RANGE);
static_assert(e::kExeMachineTypeMismatch == ERROR_EXE_MACHINE_TYPE_MISMATCH);
static_assert(e::kMoreData == ERROR_MORE_DATA);
static_assert(e::kNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(e::kServiceAlreadyRunning == ERROR_SERVICE_ALREADY_RUNNING);
static_assert(e::kNoSuchLogonSession == ERROR_NO_SUCH_LOGON_SESSION);
static_assert(e::kTimeout == ERROR_TIMEOUT);
static_assert(e::kRpcServerUnavailable == RPC_S_SERVER_UNAVAILABLE);
static_assert(e::kInvalidPrinterName == ERROR_INVALID_PRINTER_NAME);
