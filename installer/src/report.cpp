#include "report.h"

#include "platform.h"
#include "progress.h"

namespace telvor::installer {

const char16_t kInstallCaption[] = u"Install";

std::uint32_t ReportCode(const char16_t* format, std::uint32_t code) {
  const Text message = FormatCode(format, static_cast<std::int32_t>(code));
  WaitForProgressWindow();
  CurrentPlatform().ShowMessage(ProgressWindowHandle.load(), message.c_str(), kInstallCaption,
                                kBoxOk | kBoxAboveProgress);
  return code;
}

std::uint32_t ReportLastError(const char16_t* format) {
  return ReportCode(format, CurrentPlatform().LastError());
}

}  // namespace telvor::installer
