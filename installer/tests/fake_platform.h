// A platform for the installer's tests: records every call, fails chosen
// calls with chosen codes, keeps a small model of the spooler (drivers,
// printers, monitors, files) and of the "Spooler" service, and runs a clock
// that moves only when the code sleeps or a call is given a cost.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

namespace telvor::installer {

struct ShownBox {
  Handle owner;
  std::string text;
  std::string caption;
  std::uint32_t style;
};

// One scripted reply of QueryService.
struct QueryReply {
  bool ok;
  std::uint32_t state;
  std::uint32_t wait_hint;
  std::uint32_t error;
};

class FakePlatform : public Platform {
 public:
  static constexpr Handle kTopWindow = 0x900;
  static constexpr Handle kWindowThread = 0x100;
  static constexpr Handle kAnimationThread = 0x200;
  static constexpr Handle kNewPrinter = 0x300;
  static constexpr Handle kOldPrinter = 0x400;
  static constexpr Handle kManager = 0xA00;
  static constexpr Handle kService = 0xA10;
  static constexpr Handle kDialog = 0xB00;
  static constexpr Handle kProgressBar = 0xB10;

  // The `occurrence`-th call of `call` (counted from 1) fails with `code`.
  void Fail(const std::string& call, std::uint32_t code, int occurrence = 1);

  // Every call in order: its name, then its arguments where they matter.
  std::vector<std::string> log;
  // Just the names, without LastError.
  std::vector<std::string> Calls() const;
  int CountOf(const std::string& call) const;
  // The log entries of one call.
  std::vector<std::string> Entries(const std::string& call) const;

  std::vector<ShownBox> boxes;

  // Spooler model.
  Names drivers;
  Names printers;
  Names monitors;
  Text driver_directory = u"C:\\WINDOWS\\System32\\spool\\DRIVERS\\W32X86";
  // Where CopyInfFiles stops when it fails (Fail("CopyInfFiles", ...)).
  InfStep inf_step = InfStep::kCommit;
  DriverRecord added_driver{};
  std::vector<char16_t> added_dependent_files;
  PrinterRecord added_printer{};
  MonitorRecord added_monitor{};

  // Every file is there but these.
  std::set<Text> missing;
  Text system_directory = u"C:\\WINDOWS\\system32";
  Text module_path = u"C:\\Setup\\install.exe";
  // Reported by SystemDirectory instead of the directory when non-zero.
  std::uint32_t system_directory_needs = 0;

  // The monitor's key: there from AddMonitor to DeleteMonitor; its values.
  bool monitor_key = false;
  std::map<Text, Text> monitor_values;
  // Files the administrator gives, by path; the installer's own files in
  // the monitor's folder, by name.
  std::map<Text, std::string> given_files;
  std::map<Text, std::string> own_files;
  // The list of installed programs' entry, value by value; empty when none.
  std::map<std::string, std::string> uninstall_entry;

  // Threads and the window.
  std::map<Handle, int> suspend_count;
  std::intptr_t dialog_result = 1;
  std::uint32_t dialog_error = 0;
  // (position) or (colour) sent to the bar, in order.
  std::vector<std::string> bar;

  // Service model: running until stopped; with no script, queries answer the
  // current state with a wait hint of 0.
  std::uint32_t service_state = 4;
  std::deque<QueryReply> query_script;
  QueryReply stop_reply{true, 1, 0, 0};
  int restarts = 0;

  // The clock.
  std::uint32_t tick = 1000;
  std::map<std::string, std::uint32_t> call_cost_ms;

  std::uint32_t LastError() override;
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t milliseconds) override;
  bool Is32BitOn64BitWindows() override;
  std::uint32_t SystemDirectory(char16_t* area, std::uint32_t units) override;
  std::uint32_t ProgramPath(char16_t* area, std::uint32_t units) override;
  bool FileExists(const char16_t* path) override;
  bool CopyFileOver(const char16_t* source, const char16_t* destination) override;
  bool RegisterEventLogSource(const char16_t* source, const char16_t* message_file) override;
  bool ListDrivers(const char16_t* environment, Names& names) override;
  bool ListPrinters(Names& names) override;
  bool ListMonitors(Names& names) override;
  bool DriverDirectory(const char16_t* environment, char16_t* area, std::uint32_t bytes) override;
  bool CopyInfFiles(const InfCopy& copy, InfStep* failed) override;
  bool AddDriver(const DriverRecord& driver) override;
  bool InstallDriverFromStore(const char16_t* name, const char16_t* environment) override;
  Handle OpenPrinterToDelete(const char16_t* name) override;
  bool DeletePrinter(Handle printer) override;
  bool ClosePrinter(Handle printer) override;
  bool DeleteMonitor(const char16_t* environment, const char16_t* name) override;
  bool AddMonitor(const MonitorRecord& monitor) override;
  bool ProtectMonitorKey() override { return !Enter("ProtectMonitorKey"); }
  Handle AddPrinter(const PrinterRecord& printer) override;
  bool ReadMonitorValue(const char16_t* name, Text& value, bool& present) override;
  bool WriteMonitorValue(const char16_t* name, const char16_t* value) override;
  bool DeleteMonitorKey() override;
  bool RemoveFile(const char16_t* path) override;
  bool UnregisterEventLogSource(const char16_t* source) override;
  bool WriteUninstallEntry(const UninstallEntry& entry) override;
  bool RemoveUninstallEntry() override;
  bool ReadWholeFile(const char16_t* path, std::string& content) override;
  bool WriteOwnFile(const char16_t* name, const std::string& content, bool append) override;
  bool ReadOwnFile(const char16_t* name, std::string& content) override;
  bool RemoveOwnFile(const char16_t* name) override;
  Handle OpenServiceManager() override;
  Handle OpenService(Handle manager, const char16_t* name) override;
  bool QueryService(Handle service, ServiceState* state) override;
  bool StopService(Handle service, ServiceState* state) override;
  bool StartService(Handle service) override;
  void CloseService(Handle handle) override;
  void PrepareProgressBar() override;
  Handle StartThread(ThreadRoutine routine) override;
  void EndThread(std::uint32_t exit_code) override;
  void SuspendThread(Handle thread) override;
  void ResumeThread(Handle thread) override;
  Handle TopWindow() override;
  void ShowMessage(Handle owner, const char16_t* text, const char16_t* caption,
                   std::uint32_t style) override;
  std::intptr_t RunDialog(const char16_t* template_name, Handle owner) override;
  void EndDialog(Handle dialog, std::intptr_t result) override;
  Handle DialogItem(Handle dialog, std::int32_t id) override;
  void Activate(Handle window) override;
  void SetBarPosition(Handle bar, std::int32_t position) override;
  void SetBarColour(Handle bar, std::uint32_t colour) override;

 private:
  // Logs the call, charges its cost, and tells whether it is to fail (the
  // last error is then set).
  bool Enter(const std::string& call, const std::string& arguments = "");
  bool Refuse(std::uint32_t code);

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
