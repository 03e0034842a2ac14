// The platform operations the installer uses: spooler management, Setup API,
// service control, kernel, window and thread calls. The installation logic
// talks only to this interface; win/ maps it onto the Windows API one call at
// a time, and the tests drive every path through a fake.
#pragma once

#include <cstdint>

namespace telvor::installer {

// Every platform handle (window, thread, printer, service, INF, file queue,
// queue-callback context) as an opaque pointer-sized value. 0 is null.
using Handle = std::uintptr_t;
// What SetupOpenInfFileW and SetupOpenFileQueue return on failure.
constexpr Handle kInvalidHandle = ~Handle{0};

// Spooler records, field for field in the platform's order and layout, with
// absent texts as null. The enumeration records are read straight out of the
// areas the spooler fills, so their layout is checked against the platform's
// in win/.
struct DriverInfo1 {
  const char16_t* name;
};

struct PrinterInfo4 {
  const char16_t* printer_name;
  const char16_t* server_name;
  std::uint32_t attributes;
};

struct MonitorInfo1 {
  const char16_t* name;
};

struct DriverInfo3 {
  std::uint32_t version;
  const char16_t* name;
  const char16_t* environment;
  const char16_t* driver_path;
  const char16_t* data_file;
  const char16_t* config_file;
  const char16_t* help_file;
  const char16_t* dependent_files;
  const char16_t* monitor_name;
  const char16_t* default_data_type;
};

struct PrinterInfo2 {
  const char16_t* server_name;
  const char16_t* printer_name;
  const char16_t* share_name;
  const char16_t* port_name;
  const char16_t* driver_name;
  const char16_t* comment;
  const char16_t* location;
  void* dev_mode;
  const char16_t* sep_file;
  const char16_t* print_processor;
  const char16_t* data_type;
  const char16_t* parameters;
  void* security_descriptor;
  std::uint32_t attributes;
  std::uint32_t priority;
  std::uint32_t default_priority;
  std::uint32_t start_time;
  std::uint32_t until_time;
  std::uint32_t status;
  std::uint32_t jobs;
  std::uint32_t average_ppm;
};

struct MonitorInfo2 {
  const char16_t* name;
  const char16_t* environment;
  const char16_t* dll_name;
};

struct PrinterDefaults {
  const char16_t* data_type;
  void* dev_mode;
  std::uint32_t desired_access;
};

// SERVICE_STATUS.
struct ServiceStatus {
  std::uint32_t service_type;
  std::uint32_t current_state;
  std::uint32_t controls_accepted;
  std::uint32_t win32_exit_code;
  std::uint32_t service_specific_exit_code;
  std::uint32_t check_point;
  std::uint32_t wait_hint;
};

// The installer's two thread procedures; the platform layer knows their
// entry points.
enum class ThreadRoutine { kProgressWindow, kProgressAnimation };

class InstallerOperations {
 public:
  virtual ~InstallerOperations() = default;

  // Kernel.
  virtual std::uint32_t GetLastError() = 0;
  virtual std::uint32_t GetTickCount() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Units written without the terminator; 0 on failure; the size needed,
  // terminator included, when the area is too small.
  virtual std::uint32_t GetSystemDirectoryW(char16_t* area, std::uint32_t size) = 0;
  // Of the program's own module. Units written; `size` when it was cut.
  virtual std::uint32_t GetModuleFileNameW(char16_t* area, std::uint32_t size) = 0;
  virtual bool CopyFileW(const char16_t* source, const char16_t* destination,
                         bool fail_if_exists) = 0;

  // Threads: created with default security and stack size, no parameter,
  // running at once. 0 when the thread cannot be created.
  virtual Handle CreateThread(ThreadRoutine routine) = 0;
  virtual void ExitThread(std::uint32_t exit_code) = 0;
  virtual void SuspendThread(Handle thread) = 0;
  virtual void ResumeThread(Handle thread) = 0;

  // Spooler management, on the local machine. The enumerations fill `area`
  // with records followed by their texts; `needed` receives the byte size
  // the full list takes.
  virtual bool EnumPrinterDriversW(const char16_t* environment, std::uint32_t level,
                                   unsigned char* area, std::uint32_t size, std::uint32_t* needed,
                                   std::uint32_t* returned) = 0;
  virtual bool EnumPrintersW(std::uint32_t flags, std::uint32_t level, unsigned char* area,
                             std::uint32_t size, std::uint32_t* needed,
                             std::uint32_t* returned) = 0;
  virtual bool EnumMonitorsW(std::uint32_t level, unsigned char* area, std::uint32_t size,
                             std::uint32_t* needed, std::uint32_t* returned) = 0;
  virtual bool GetPrinterDriverDirectoryW(const char16_t* environment, std::uint32_t level,
                                          unsigned char* area, std::uint32_t size,
                                          std::uint32_t* needed) = 0;
  virtual bool AddPrinterDriverW(const DriverInfo3& driver) = 0;
  virtual bool OpenPrinterW(const char16_t* name, Handle* printer,
                            const PrinterDefaults& defaults) = 0;
  virtual bool DeletePrinter(Handle printer) = 0;
  virtual bool DeleteMonitorW(const char16_t* environment, const char16_t* monitor) = 0;
  virtual bool AddMonitorW(const MonitorInfo2& monitor) = 0;
  virtual Handle AddPrinterW(const PrinterInfo2& printer) = 0;
  virtual bool ClosePrinter(Handle printer) = 0;

  // Setup API.
  virtual Handle SetupOpenInfFileW(const char16_t* name, const char16_t* inf_class,
                                   std::uint32_t style, std::uint32_t* error_line) = 0;
  virtual bool SetupSetDirectoryIdW(Handle inf, std::uint32_t id, const char16_t* directory) = 0;
  virtual Handle SetupOpenFileQueue() = 0;
  virtual bool SetupInstallFilesFromInfSectionW(Handle inf, Handle layout_inf, Handle queue,
                                                const char16_t* section,
                                                const char16_t* source_root,
                                                std::uint32_t copy_flags) = 0;
  virtual Handle SetupInitDefaultQueueCallback(Handle owner) = 0;
  // Commits with the platform's default queue callback and `context`.
  virtual bool SetupCommitFileQueueW(Handle owner, Handle queue, Handle context) = 0;
  virtual void SetupCloseFileQueue(Handle queue) = 0;
  virtual void SetupCloseInfFile(Handle inf) = 0;

  // Service control manager of the local machine, default database.
  virtual Handle OpenSCManagerW(std::uint32_t access) = 0;
  virtual Handle OpenServiceW(Handle manager, const char16_t* name, std::uint32_t access) = 0;
  virtual bool QueryServiceStatus(Handle service, ServiceStatus* status) = 0;
  virtual bool ControlService(Handle service, std::uint32_t control, ServiceStatus* status) = 0;
  // No arguments.
  virtual bool StartServiceW(Handle service) = 0;
  virtual void CloseServiceHandle(Handle handle) = 0;

  // Windows.
  virtual void InitCommonControlsEx(std::uint32_t classes) = 0;
  // The top-level window at the top of the Z order.
  virtual Handle GetTopWindow() = 0;
  virtual std::int32_t MessageBoxW(Handle owner, const char16_t* text, const char16_t* caption,
                                   std::uint32_t type) = 0;
  // Runs the named dialog of the program's resources modally with the
  // progress dialog procedure and initial parameter 0.
  virtual std::intptr_t DialogBoxParamW(const char16_t* template_name, Handle owner) = 0;
  virtual bool EndDialog(Handle dialog, std::intptr_t result) = 0;
  virtual Handle GetDlgItem(Handle dialog, std::int32_t id) = 0;
  virtual Handle SetActiveWindow(Handle window) = 0;
  virtual std::intptr_t SendMessageW(Handle window, std::uint32_t message, std::uintptr_t wparam,
                                     std::intptr_t lparam) = 0;
};

}  // namespace telvor::installer
