// A platform for the installer's tests: records every call, fails chosen
// calls with chosen codes, keeps a small model of the spooler (drivers,
// printers, monitors) and of the "Spooler" service, and runs a clock that
// moves only when the code sleeps or a call is given a cost.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "operations.h"
#include "telvor_common/text.h"

namespace telvor::installer {

struct ShownBox {
  Handle owner;
  std::string text;
  std::string caption;
  std::uint32_t type;
};

struct SentMessage {
  Handle window;
  std::uint32_t message;
  std::uintptr_t wparam;
  std::intptr_t lparam;
};

// One scripted reply of QueryServiceStatus.
struct QueryReply {
  bool ok;
  std::uint32_t state;
  std::uint32_t wait_hint;
  std::uint32_t error;
};

class FakeOperations : public InstallerOperations {
 public:
  static constexpr Handle kTopWindow = 0x900;
  static constexpr Handle kWindowThread = 0x100;
  static constexpr Handle kAnimationThread = 0x200;
  static constexpr Handle kNewPrinter = 0x300;
  static constexpr Handle kOldPrinter = 0x400;
  static constexpr Handle kInf = 0x500;
  static constexpr Handle kQueue = 0x600;
  static constexpr Handle kQueueContext = 0x700;
  static constexpr Handle kManager = 0xA00;
  static constexpr Handle kService = 0xA10;
  static constexpr Handle kDialog = 0xB00;
  static constexpr Handle kProgressBar = 0xB10;

  // The `occurrence`-th call of `call` (counted from 1) fails with `code`.
  void Fail(const std::string& call, std::uint32_t code, int occurrence = 1);

  // Every call in order: its name, then its arguments where they matter.
  std::vector<std::string> log;
  // Just the names, without GetLastError.
  std::vector<std::string> Calls() const;
  int CountOf(const std::string& call) const;

  std::vector<ShownBox> boxes;
  std::vector<SentMessage> sent;

  // Spooler model.
  std::vector<Text> drivers;
  std::vector<Text> printers;
  std::vector<Text> monitors;
  Text driver_directory = u"C:\\WINDOWS\\System32\\spool\\DRIVERS\\W32X86";
  DriverInfo3 added_driver{};
  std::vector<char16_t> added_dependent_files;
  PrinterInfo2 added_printer{};
  MonitorInfo2 added_monitor{};
  PrinterDefaults open_defaults{};

  Text system_directory = u"C:\\WINDOWS\\system32";
  Text module_path = u"C:\\Setup\\install.exe";
  // Reported by GetSystemDirectoryW instead of the directory when non-zero.
  std::uint32_t system_directory_needs = 0;

  // Threads and the window.
  std::map<Handle, int> suspend_count;
  std::intptr_t dialog_result = 1;
  std::uint32_t dialog_error = 0;

  // Service model: running until stopped; with no script, queries answer the
  // current state with a wait hint of 0.
  std::uint32_t service_state = 4;
  std::deque<QueryReply> query_script;
  QueryReply stop_reply{true, 1, 0, 0};
  int restarts = 0;

  // The clock.
  std::uint32_t tick = 1000;
  std::map<std::string, std::uint32_t> call_cost_ms;

  std::uint32_t GetLastError() override;
  std::uint32_t GetTickCount() override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t GetSystemDirectoryW(char16_t* area, std::uint32_t size) override;
  std::uint32_t GetModuleFileNameW(char16_t* area, std::uint32_t size) override;
  bool CopyFileW(const char16_t* source, const char16_t* destination, bool fail_if_exists) override;
  Handle CreateThread(ThreadRoutine routine) override;
  void ExitThread(std::uint32_t exit_code) override;
  void SuspendThread(Handle thread) override;
  void ResumeThread(Handle thread) override;
  bool EnumPrinterDriversW(const char16_t* environment, std::uint32_t level, unsigned char* area,
                           std::uint32_t size, std::uint32_t* needed,
                           std::uint32_t* returned) override;
  bool EnumPrintersW(std::uint32_t flags, std::uint32_t level, unsigned char* area,
                     std::uint32_t size, std::uint32_t* needed, std::uint32_t* returned) override;
  bool EnumMonitorsW(std::uint32_t level, unsigned char* area, std::uint32_t size,
                     std::uint32_t* needed, std::uint32_t* returned) override;
  bool GetPrinterDriverDirectoryW(const char16_t* environment, std::uint32_t level,
                                  unsigned char* area, std::uint32_t size,
                                  std::uint32_t* needed) override;
  bool AddPrinterDriverW(const DriverInfo3& driver) override;
  bool OpenPrinterW(const char16_t* name, Handle* printer,
                    const PrinterDefaults& defaults) override;
  bool DeletePrinter(Handle printer) override;
  bool DeleteMonitorW(const char16_t* environment, const char16_t* monitor) override;
  bool AddMonitorW(const MonitorInfo2& monitor) override;
  Handle AddPrinterW(const PrinterInfo2& printer) override;
  bool ClosePrinter(Handle printer) override;
  Handle SetupOpenInfFileW(const char16_t* name, const char16_t* inf_class, std::uint32_t style,
                           std::uint32_t* error_line) override;
  bool SetupSetDirectoryIdW(Handle inf, std::uint32_t id, const char16_t* directory) override;
  Handle SetupOpenFileQueue() override;
  bool SetupInstallFilesFromInfSectionW(Handle inf, Handle layout_inf, Handle queue,
                                        const char16_t* section, const char16_t* source_root,
                                        std::uint32_t copy_flags) override;
  Handle SetupInitDefaultQueueCallback(Handle owner) override;
  bool SetupCommitFileQueueW(Handle owner, Handle queue, Handle context) override;
  void SetupCloseFileQueue(Handle queue) override;
  void SetupCloseInfFile(Handle inf) override;
  Handle OpenSCManagerW(std::uint32_t access) override;
  Handle OpenServiceW(Handle manager, const char16_t* name, std::uint32_t access) override;
  bool QueryServiceStatus(Handle service, ServiceStatus* status) override;
  bool ControlService(Handle service, std::uint32_t control, ServiceStatus* status) override;
  bool StartServiceW(Handle service) override;
  void CloseServiceHandle(Handle handle) override;
  void InitCommonControlsEx(std::uint32_t classes) override;
  Handle GetTopWindow() override;
  std::int32_t MessageBoxW(Handle owner, const char16_t* text, const char16_t* caption,
                           std::uint32_t type) override;
  std::intptr_t DialogBoxParamW(const char16_t* template_name, Handle owner) override;
  bool EndDialog(Handle dialog, std::intptr_t result) override;
  Handle GetDlgItem(Handle dialog, std::int32_t id) override;
  Handle SetActiveWindow(Handle window) override;
  std::intptr_t SendMessageW(Handle window, std::uint32_t message, std::uintptr_t wparam,
                             std::intptr_t lparam) override;

 private:
  // Logs the call, charges its cost, and tells whether it is to fail (the
  // last error is then set).
  bool Enter(const std::string& call, const std::string& arguments = "");
  template <typename Record>
  bool Enumerate(const std::vector<Text>& names, unsigned char* area, std::uint32_t size,
                 std::uint32_t* needed, std::uint32_t* returned);

  struct Failure {
    std::uint32_t code;
    int occurrence;
  };
  std::multimap<std::string, Failure> failures_;
  std::map<std::string, int> counts_;
  std::uint32_t last_error_ = 0;
  Text opened_printer_;
};

// UTF-8 of a terminated text, "(null)" for an absent one.
std::string Utf8(const char16_t* text);

}  // namespace telvor::installer
