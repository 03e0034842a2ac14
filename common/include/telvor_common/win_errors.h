// The Windows error codes the three deliverables give, take or stand in for,
// defined once. The Windows layers check them against the platform's own
// headers (win_errors_check.cpp); the POSIX layers and the Linux hosts report
// them so that messages read as they would on Windows.
#pragma once

#include <cstdint>

namespace telvor::win_error {

inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kNotEnoughMemory = 8;
inline constexpr std::uint32_t kInvalidData = 13;
inline constexpr std::uint32_t kNotReady = 21;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kNotSupported = 50;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kDiskFull = 112;
inline constexpr std::uint32_t kInsufficientBuffer = 122;
inline constexpr std::uint32_t kInvalidLevel = 124;
inline constexpr std::uint32_t kModuleNotFound = 126;
inline constexpr std::uint32_t kProcNotFound = 127;
inline constexpr std::uint32_t kEnvVarNotFound = 203;
inline constexpr std::uint32_t kFilenameExcedRange = 206;
inline constexpr std::uint32_t kExeMachineTypeMismatch = 216;
inline constexpr std::uint32_t kMoreData = 234;
inline constexpr std::uint32_t kNoMoreItems = 259;
inline constexpr std::uint32_t kServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kNoSuchLogonSession = 1312;
inline constexpr std::uint32_t kTimeout = 1460;
inline constexpr std::uint32_t kRpcServerUnavailable = 1722;
inline constexpr std::uint32_t kInvalidPrinterName = 1801;

#ifndef _WIN32
// The code a POSIX layer reports for `error` (an errno value): the platform's
// own code for the failures the messages name, so that they read alike on
// every system; any other errno as it is.
std::uint32_t FromErrno(int error);
#endif

}  // namespace telvor::win_error
