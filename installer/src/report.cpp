#include "report.h"

#include "telvor_common/text.h"

namespace telvor::installer {

const char16_t kInstallCaption[] = u"Install";

std::uint32_t ReportCode(InstallerOperations& ops, const char16_t* format, std::uint32_t code) {
  const Text message = FormatCode(format, static_cast<std::int32_t>(code));
  ops.MessageBoxW(0, message.c_str(), kInstallCaption, kMbOk);
  return code;
}

std::uint32_t ReportLastError(InstallerOperations& ops, const char16_t* format) {
  const std::uint32_t code = ops.GetLastError();
  return ReportCode(ops, format, code);
}

}  // namespace telvor::installer
