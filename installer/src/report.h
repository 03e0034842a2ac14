// How the installer reports a failed platform call: the call's message with
// the error code, in a message box with the caption "Install", owned by the
// progress window while it is open (so that the box lies above it), by none
// otherwise.
#pragma once

#include <cstdint>

#include "platform.h"

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

// The installer's log in the monitor's folder under ProgramData: where a
// quiet run tells what it did.
extern const char16_t kLogFileName[];

// Set by /quiet: every message goes to the log instead of a box, and
// nothing waits for a person.
void SetQuiet(bool quiet);
bool Quiet();

// A message for the person running the installer: a box owned by `owner`
// with `style`, or under /quiet a line of the log.
void Tell(Handle owner, const char16_t* text, std::uint32_t style);

// Shows `format` ("<call> error %d\n") with `code` as a signed decimal and
// returns `code`.
std::uint32_t ReportCode(const char16_t* format, std::uint32_t code);

// The same with the last error of the call that just failed.
std::uint32_t ReportLastError(const char16_t* format);

}  // namespace telvor::installer
