// How the installer reports a failed platform call: the call's message with
// the error code, in a message box with the caption "Install", owned by the
// progress window while it is open (so that the box lies above it), by none
// otherwise.
#pragma once

#include <cstdint>

namespace telvor::installer {

extern const char16_t kInstallCaption[];

// Message box styles (the platform's MB_* values).
constexpr std::uint32_t kBoxOk = 0x0;
constexpr std::uint32_t kBoxInformation = 0x40;
constexpr std::uint32_t kBoxForeground = 0x10000;
constexpr std::uint32_t kBoxTopmost = 0x40000;
// The progress window stays above ordinary windows; the installer's boxes
// must come above it, or a box waits unseen behind a bar that moves on.
constexpr std::uint32_t kBoxAboveProgress = kBoxTopmost | kBoxForeground;

// Shows `format` ("<call> error %d\n") with `code` as a signed decimal and
// returns `code`.
std::uint32_t ReportCode(const char16_t* format, std::uint32_t code);

// The same with the last error of the call that just failed.
std::uint32_t ReportLastError(const char16_t* format);

}  // namespace telvor::installer
