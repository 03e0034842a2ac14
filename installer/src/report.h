// How the installer reports a failed platform call: the call's message with
// the error code, in a message box with no owner and the caption "Install".
#pragma once

#include <cstdint>

#include "operations.h"

namespace telvor::installer {

extern const char16_t kInstallCaption[];

constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbIconInformation = 0x40;

// Shows `format` ("<call> error %d\n") with `code` as a signed decimal and
// returns `code`.
std::uint32_t ReportCode(InstallerOperations& ops, const char16_t* format, std::uint32_t code);

// The same with the last-error code of the call that just failed.
std::uint32_t ReportLastError(InstallerOperations& ops, const char16_t* format);

}  // namespace telvor::installer
