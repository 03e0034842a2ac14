// How the monitor shows a failure: a message box with an OK button.
#pragma once

#include <cstdint>

#include "platform.h"

namespace quor {

inline constexpr char16_t kCaption[] = u"TelvMon";

// The common error report: `format` ("<call> error %d\n") receives `code`.
void ReportCode(const char16_t* format, std::int32_t code);
// The thread's last error, as the reports show it (signed).
std::int32_t LastErrorCode();
// The common error report with the thread's last error.
void ReportLastError(const char16_t* format);

}  // namespace quor
