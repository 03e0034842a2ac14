#include "report.h"

#include <atomic>
#include <string>

#include "platform.h"
#include "progress.h"

namespace telvor::installer {

const char16_t kInstallCaption[] = u"Install";
const char16_t kLogFileName[] = u"install.log";

namespace {

std::atomic<bool> g_quiet{false};

}  // namespace

void SetQuiet(bool quiet) { g_quiet.store(quiet); }
bool Quiet() { return g_quiet.load(); }

void Tell(Handle owner, const char16_t* text, std::uint32_t style) {
  if (!Quiet()) {
    CurrentPlatform().ShowMessage(owner, text, kInstallCaption, style);
    return;
  }
  // Lines end as Windows' do; a log that cannot be written leaves the exit
  // status to tell.
  std::string line;
  for (const char unit : ToUtf8(text)) {
    if (unit == '\n') line += '\r';
    line += unit;
  }
  if (line.empty() || line.back() != '\n') line += "\r\n";
  CurrentPlatform().WriteOwnFile(kLogFileName, line, true);
}

std::uint32_t ReportCode(const char16_t* format, std::uint32_t code) {
  const Text message = FormatCode(format, static_cast<std::int32_t>(code));
  WaitForProgressWindow();
  Tell(ProgressWindowHandle.load(), message.c_str(), kBoxOk | kBoxAboveProgress);
  return code;
}

std::uint32_t ReportLastError(const char16_t* format) {
  return ReportCode(format, CurrentPlatform().LastError());
}

}  // namespace telvor::installer
