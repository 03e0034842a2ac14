// The installer's platform on POSIX. The installer is a Windows program: here
// its files can be checked and copied for real, and everything that needs a
// Windows spooler, service manager, event log or window answers "not
// supported" (50).
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform.h"
#include "telvor_common/win_errors.h"

namespace telvor::installer {
namespace {

thread_local std::uint32_t t_last_error = 0;

bool Unsupported() {
  t_last_error = win_error::kNotSupported;
  return false;
}

// Copies `text` into `area`; the length, or `units` when it does not fit.
std::uint32_t Give(const std::string& text, char16_t* area, std::uint32_t units) {
  const Text wide = FromUtf8(text);
  if (!CopyText(area, units, wide)) return units;
  return static_cast<std::uint32_t>(wide.size());
}

class PosixPlatform final : public Platform {
 public:
  std::uint32_t LastError() override { return t_last_error; }

  std::uint32_t TickCount() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
  }

  void Sleep(std::uint32_t milliseconds) override {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }

  bool Is32BitOn64BitWindows() override { return false; }

  std::uint32_t SystemDirectory(char16_t* area, std::uint32_t units) override {
    return Give("/usr/local/lib", area, units);
  }

  std::uint32_t ProgramPath(char16_t* area, std::uint32_t units) override {
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", &path[0], path.size());
    if (length <= 0) {
      t_last_error = win_error::FromErrno(errno);
      return 0;
    }
    path.resize(static_cast<std::size_t>(length));
    return Give(path, area, units);
  }

  bool FileExists(const char16_t* path) override {
    struct stat info {};
    if (stat(ToUtf8(path).c_str(), &info) != 0) {
      t_last_error = win_error::FromErrno(errno);
      return false;
    }
    if (S_ISREG(info.st_mode)) return true;
    t_last_error = win_error::kAccessDenied;
    return false;
  }

  bool CopyFileOver(const char16_t* source, const char16_t* destination) override {
    std::ifstream in(ToUtf8(source), std::ios::binary);
    if (!in) {
      t_last_error = win_error::FromErrno(errno);
      return false;
    }
    std::ofstream out(ToUtf8(destination), std::ios::binary | std::ios::trunc);
    if (!out || !(out << in.rdbuf()) || !out.flush()) {
      t_last_error = win_error::FromErrno(errno);
      return false;
    }
    return true;
  }

  bool RegisterEventLogSource(const char16_t*, const char16_t*) override { return Unsupported(); }

  bool ListDrivers(const char16_t*, Names&) override { return Unsupported(); }
  bool ListPrinters(Names&) override { return Unsupported(); }
  bool ListMonitors(Names&) override { return Unsupported(); }
  bool DriverDirectory(const char16_t*, char16_t*, std::uint32_t) override { return Unsupported(); }
  bool CopyInfFiles(const InfCopy&, InfStep* failed) override {
    *failed = InfStep::kOpenInf;
    return Unsupported();
  }
  bool AddDriver(const DriverRecord&) override { return Unsupported(); }
  bool InstallDriverFromStore(const char16_t*, const char16_t*) override { return Unsupported(); }
  Handle OpenPrinterToDelete(const char16_t*) override {
    Unsupported();
    return 0;
  }
  bool DeletePrinter(Handle) override { return Unsupported(); }
  bool ClosePrinter(Handle) override { return Unsupported(); }
  bool DeleteMonitor(const char16_t*, const char16_t*) override { return Unsupported(); }
  bool AddMonitor(const MonitorRecord&) override { return Unsupported(); }
  bool ProtectMonitorKey() override { return Unsupported(); }
  Handle AddPrinter(const PrinterRecord&) override {
    Unsupported();
    return 0;
  }
  bool ReadMonitorValue(const char16_t*, Text&, bool&) override { return Unsupported(); }
  bool WriteMonitorValue(const char16_t*, const char16_t*) override { return Unsupported(); }
  bool DeleteMonitorKey() override { return Unsupported(); }
  bool RemoveFile(const char16_t*) override { return Unsupported(); }
  bool UnregisterEventLogSource(const char16_t*) override { return Unsupported(); }
  bool WriteUninstallEntry(const UninstallEntry&) override { return Unsupported(); }
  bool RemoveUninstallEntry() override { return Unsupported(); }
  bool ReadWholeFile(const char16_t*, std::string&) override { return Unsupported(); }
  bool WriteOwnFile(const char16_t*, const std::string&, bool) override { return Unsupported(); }
  bool ReadOwnFile(const char16_t*, std::string&) override { return Unsupported(); }
  bool RemoveOwnFile(const char16_t*) override { return Unsupported(); }

  Handle OpenServiceManager() override {
    Unsupported();
    return 0;
  }
  Handle OpenService(Handle, const char16_t*) override {
    Unsupported();
    return 0;
  }
  bool QueryService(Handle, ServiceState*) override { return Unsupported(); }
  bool StopService(Handle, ServiceState*) override { return Unsupported(); }
  bool StartService(Handle) override { return Unsupported(); }
  void CloseService(Handle) override {}

  void PrepareProgressBar() override {}
  Handle StartThread(ThreadRoutine) override {
    Unsupported();
    return 0;
  }
  void EndThread(std::uint32_t) override {}
  void SuspendThread(Handle) override {}
  void ResumeThread(Handle) override {}
  Handle TopWindow() override { return 0; }
  // No window system: the message goes to standard error.
  void ShowMessage(Handle, const char16_t* text, const char16_t* caption, std::uint32_t) override {
    std::fprintf(stderr, "%s: %s", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
  }
  std::intptr_t RunDialog(const char16_t*, Handle) override {
    Unsupported();
    return -1;
  }
  void EndDialog(Handle, std::intptr_t) override {}
  Handle DialogItem(Handle, std::int32_t) override { return 0; }
  void Activate(Handle) override {}
  void SetBarPosition(Handle, std::int32_t) override {}
  void SetBarColour(Handle, std::uint32_t) override {}
};

}  // namespace

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace telvor::installer
