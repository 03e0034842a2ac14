#include "fake_platform.h"

#include <algorithm>
#include <cstdio>

#include "telvor_common/win_errors.h"

namespace telvor::installer {
namespace {

// The spooler's own refusals.
constexpr std::uint32_t kPrinterAlreadyExists = 1802;
constexpr std::uint32_t kUnknownMonitor = 3000;
constexpr std::uint32_t kMonitorAlreadyInstalled = 3006;

bool Remove(Names& names, const char16_t* name) {
  const auto at = std::find(names.begin(), names.end(), Text(name));
  if (at == names.end()) return false;
  names.erase(at);
  return true;
}

bool Contains(const Names& names, const char16_t* name) {
  return std::find(names.begin(), names.end(), Text(name)) != names.end();
}

std::string Hex(std::uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::string Utf8(const char16_t* text) { return text ? ToUtf8(text) : "(null)"; }

void FakePlatform::Fail(const std::string& call, std::uint32_t code, int occurrence) {
  failures_.insert({call, Failure{code, occurrence}});
}

std::vector<std::string> FakePlatform::Calls() const {
  std::vector<std::string> names;
  for (const auto& entry : log) {
    const std::string name = entry.substr(0, entry.find(' '));
    if (name != "LastError") names.push_back(name);
  }
  return names;
}

int FakePlatform::CountOf(const std::string& call) const {
  const auto names = Calls();
  return static_cast<int>(std::count(names.begin(), names.end(), call));
}

std::vector<std::string> FakePlatform::Entries(const std::string& call) const {
  std::vector<std::string> found;
  for (const auto& entry : log) {
    if (entry == call || entry.rfind(call + " ", 0) == 0) found.push_back(entry);
  }
  return found;
}

bool FakePlatform::Enter(const std::string& call, const std::string& arguments) {
  log.push_back(arguments.empty() ? call : call + " " + arguments);
  const auto cost = call_cost_ms.find(call);
  if (cost != call_cost_ms.end()) tick += cost->second;
  const int count = ++counts_[call];
  const auto range = failures_.equal_range(call);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second.occurrence == count) {
      last_error_ = it->second.code;
      return true;
    }
  }
  return false;
}

bool FakePlatform::Refuse(std::uint32_t code) {
  last_error_ = code;
  return false;
}

std::uint32_t FakePlatform::LastError() {
  log.push_back("LastError");
  return last_error_;
}

std::uint32_t FakePlatform::TickCount() {
  Enter("TickCount");
  return tick;
}

void FakePlatform::Sleep(std::uint32_t milliseconds) {
  Enter("Sleep", std::to_string(milliseconds));
  tick += milliseconds;
}

bool FakePlatform::Is32BitOn64BitWindows() { return Enter("Is32BitOn64BitWindows"); }

std::uint32_t FakePlatform::SystemDirectory(char16_t* area, std::uint32_t units) {
  if (Enter("SystemDirectory", std::to_string(units))) return 0;
  if (system_directory_needs != 0) return system_directory_needs;
  if (system_directory.size() + 1 > units) {
    return static_cast<std::uint32_t>(system_directory.size() + 1);
  }
  CopyText(area, units, system_directory);
  return static_cast<std::uint32_t>(system_directory.size());
}

std::uint32_t FakePlatform::ProgramPath(char16_t* area, std::uint32_t units) {
  Enter("ProgramPath", std::to_string(units));
  // Cut to the area, terminated, and reported as the area's size.
  const std::size_t length = std::min<std::size_t>(module_path.size(), units - 1);
  module_path.copy(area, length);
  area[length] = 0;
  if (module_path.size() >= units) {
    last_error_ = win_error::kInsufficientBuffer;
    return units;
  }
  return static_cast<std::uint32_t>(length);
}

bool FakePlatform::FileExists(const char16_t* path) {
  if (Enter("FileExists", Utf8(path))) return false;
  return missing.count(path) == 0 || Refuse(win_error::kFileNotFound);
}

bool FakePlatform::CopyFileOver(const char16_t* source, const char16_t* destination) {
  if (Enter("CopyFileOver", Utf8(source) + " -> " + Utf8(destination))) return false;
  return missing.count(source) == 0 || Refuse(win_error::kFileNotFound);
}

bool FakePlatform::RegisterEventLogSource(const char16_t* source, const char16_t* message_file) {
  return !Enter("RegisterEventLogSource", Utf8(source) + " " + Utf8(message_file));
}

bool FakePlatform::ListDrivers(const char16_t* environment, Names& names) {
  if (Enter("ListDrivers", Utf8(environment))) return false;
  names = drivers;
  return true;
}

bool FakePlatform::ListPrinters(Names& names) {
  if (Enter("ListPrinters")) return false;
  names = printers;
  return true;
}

bool FakePlatform::ListMonitors(Names& names) {
  if (Enter("ListMonitors")) return false;
  names = monitors;
  return true;
}

bool FakePlatform::DriverDirectory(const char16_t* environment, char16_t* area,
                                   std::uint32_t bytes) {
  if (Enter("DriverDirectory", Utf8(environment) + " " + std::to_string(bytes))) return false;
  return CopyText(area, bytes / sizeof(char16_t), driver_directory) ||
         Refuse(win_error::kInsufficientBuffer);
}

bool FakePlatform::CopyInfFiles(const InfCopy& copy, InfStep* failed) {
  if (Enter("CopyInfFiles", Utf8(copy.inf) + " " + Utf8(copy.inf_class) + " [" +
                                Utf8(copy.section) + "] " + std::to_string(copy.directory_id) +
                                "=" + Utf8(copy.directory) + " owner " + Hex(copy.owner))) {
    *failed = inf_step;
    return false;
  }
  return true;
}

bool FakePlatform::AddDriver(const DriverRecord& driver) {
  if (Enter("AddDriver", Utf8(driver.name))) return false;
  added_driver = driver;
  // Keep the list as handed over, through the empty name that closes it.
  added_dependent_files.clear();
  const char16_t* unit = driver.dependent_files;
  do {
    while (*unit != 0) added_dependent_files.push_back(*unit++);
    added_dependent_files.push_back(*unit++);
  } while (*unit != 0);
  added_dependent_files.push_back(0);
  drivers.emplace_back(driver.name);
  return true;
}

bool FakePlatform::InstallDriverFromStore(const char16_t* name, const char16_t* environment) {
  if (Enter("InstallDriverFromStore", Utf8(name) + " " + Utf8(environment))) return false;
  drivers.emplace_back(name);
  return true;
}

Handle FakePlatform::OpenPrinterToDelete(const char16_t* name) {
  if (Enter("OpenPrinterToDelete", Utf8(name))) return 0;
  if (!Contains(printers, name)) return Refuse(win_error::kInvalidPrinterName);
  opened_printer_ = name;
  return kOldPrinter;
}

bool FakePlatform::DeletePrinter(Handle printer) {
  if (Enter("DeletePrinter", Hex(printer))) return false;
  Remove(printers, opened_printer_.c_str());
  return true;
}

bool FakePlatform::ClosePrinter(Handle printer) { return !Enter("ClosePrinter", Hex(printer)); }

bool FakePlatform::DeleteMonitor(const char16_t* environment, const char16_t* name) {
  if (Enter("DeleteMonitor", Utf8(environment) + " " + Utf8(name))) return false;
  if (!Remove(monitors, name)) return Refuse(kUnknownMonitor);
  // The spooler deletes the monitor's key with it.
  monitor_key = false;
  monitor_values.clear();
  return true;
}

bool FakePlatform::AddMonitor(const MonitorRecord& monitor) {
  if (Enter("AddMonitor", Utf8(monitor.name))) return false;
  if (Contains(monitors, monitor.name)) return Refuse(kMonitorAlreadyInstalled);
  added_monitor = monitor;
  monitors.emplace_back(monitor.name);
  monitor_key = true;
  return true;
}

bool FakePlatform::ReadMonitorValue(const char16_t* name, Text& value, bool& present) {
  if (Enter("ReadMonitorValue", Utf8(name))) return false;
  const auto found = monitor_values.find(name);
  present = monitor_key && found != monitor_values.end();
  if (present) value = found->second;
  return true;
}

bool FakePlatform::WriteMonitorValue(const char16_t* name, const char16_t* value) {
  // The value stays out of the log: it may be the password.
  if (Enter("WriteMonitorValue", Utf8(name))) return false;
  if (!monitor_key) return Refuse(win_error::kFileNotFound);
  monitor_values[name] = value;
  return true;
}

bool FakePlatform::DeleteMonitorKey() {
  if (Enter("DeleteMonitorKey")) return false;
  monitor_key = false;
  monitor_values.clear();
  return true;
}

bool FakePlatform::RemoveFile(const char16_t* path) {
  if (Enter("RemoveFile", Utf8(path))) return false;
  missing.insert(path);
  return true;
}

bool FakePlatform::UnregisterEventLogSource(const char16_t* source) {
  return !Enter("UnregisterEventLogSource", Utf8(source));
}

bool FakePlatform::WriteUninstallEntry(const UninstallEntry& entry) {
  if (Enter("WriteUninstallEntry")) return false;
  uninstall_entry = {{"DisplayName", Utf8(entry.display_name)},
                     {"DisplayVersion", Utf8(entry.display_version)},
                     {"Publisher", Utf8(entry.publisher)},
                     {"UninstallString", Utf8(entry.uninstall_command)},
                     {"QuietUninstallString", Utf8(entry.quiet_uninstall_command)}};
  return true;
}

bool FakePlatform::RemoveUninstallEntry() {
  if (Enter("RemoveUninstallEntry")) return false;
  uninstall_entry.clear();
  return true;
}

bool FakePlatform::ReadWholeFile(const char16_t* path, std::string& content) {
  if (Enter("ReadWholeFile", Utf8(path))) return false;
  const auto found = given_files.find(path);
  if (found == given_files.end()) return Refuse(win_error::kFileNotFound);
  content = found->second;
  return true;
}

bool FakePlatform::WriteOwnFile(const char16_t* name, const std::string& content, bool append) {
  if (Enter("WriteOwnFile", Utf8(name))) return false;
  if (append) {
    own_files[name] += content;
  } else {
    own_files[name] = content;
  }
  return true;
}

bool FakePlatform::ReadOwnFile(const char16_t* name, std::string& content) {
  if (Enter("ReadOwnFile", Utf8(name))) return false;
  const auto found = own_files.find(name);
  if (found == own_files.end()) return Refuse(win_error::kFileNotFound);
  content = found->second;
  return true;
}

bool FakePlatform::RemoveOwnFile(const char16_t* name) {
  if (Enter("RemoveOwnFile", Utf8(name))) return false;
  own_files.erase(name);
  return true;
}

Handle FakePlatform::AddPrinter(const PrinterRecord& printer) {
  if (Enter("AddPrinter", Utf8(printer.name))) return 0;
  if (Contains(printers, printer.name)) return Refuse(kPrinterAlreadyExists);
  added_printer = printer;
  printers.emplace_back(printer.name);
  return kNewPrinter;
}

Handle FakePlatform::OpenServiceManager() { return Enter("OpenServiceManager") ? 0 : kManager; }

Handle FakePlatform::OpenService(Handle manager, const char16_t* name) {
  return Enter("OpenService", Hex(manager) + " " + Utf8(name)) ? 0 : kService;
}

bool FakePlatform::QueryService(Handle service, ServiceState* state) {
  if (Enter("QueryService", Hex(service))) return false;
  QueryReply reply{true, service_state, 0, 0};
  if (!query_script.empty()) {
    reply = query_script.front();
    query_script.pop_front();
  }
  if (!reply.ok) return Refuse(reply.error);
  *state = ServiceState{reply.state, reply.wait_hint};
  return true;
}

bool FakePlatform::StopService(Handle service, ServiceState* state) {
  if (Enter("StopService", Hex(service))) return false;
  service_state = 1;
  *state = ServiceState{stop_reply.state, stop_reply.wait_hint};
  return true;
}

bool FakePlatform::StartService(Handle service) {
  if (Enter("StartService", Hex(service))) return false;
  service_state = 4;
  ++restarts;
  return true;
}

void FakePlatform::CloseService(Handle handle) { Enter("CloseService", Hex(handle)); }

void FakePlatform::PrepareProgressBar() { Enter("PrepareProgressBar"); }

Handle FakePlatform::StartThread(ThreadRoutine routine) {
  const bool window = routine == ThreadRoutine::kProgressWindow;
  if (Enter("StartThread", window ? "window" : "animation")) return 0;
  return window ? kWindowThread : kAnimationThread;
}

void FakePlatform::EndThread(std::uint32_t exit_code) {
  Enter("EndThread", std::to_string(exit_code));
}

void FakePlatform::SuspendThread(Handle thread) {
  Enter("SuspendThread", std::to_string(++suspend_count[thread]));
}

void FakePlatform::ResumeThread(Handle thread) {
  Enter("ResumeThread", std::to_string(--suspend_count[thread]));
}

Handle FakePlatform::TopWindow() {
  Enter("TopWindow");
  return kTopWindow;
}

void FakePlatform::ShowMessage(Handle owner, const char16_t* text, const char16_t* caption,
                               std::uint32_t style) {
  Enter("ShowMessage", Utf8(text));
  boxes.push_back(ShownBox{owner, Utf8(text), Utf8(caption), style});
}

std::intptr_t FakePlatform::RunDialog(const char16_t* template_name, Handle owner) {
  Enter("RunDialog", Utf8(template_name) + " " + Hex(owner));
  last_error_ = dialog_error;
  return dialog_result;
}

void FakePlatform::EndDialog(Handle dialog, std::intptr_t result) {
  Enter("EndDialog", Hex(dialog) + " " + std::to_string(result));
}

Handle FakePlatform::DialogItem(Handle dialog, std::int32_t id) {
  Enter("DialogItem", Hex(dialog) + " " + std::to_string(id));
  return dialog == kDialog && id == 1000 ? kProgressBar : 0;
}

void FakePlatform::Activate(Handle window) { Enter("Activate", Hex(window)); }

void FakePlatform::SetBarPosition(Handle bar_window, std::int32_t position) {
  Enter("SetBarPosition", Hex(bar_window) + " " + std::to_string(position));
  bar.push_back("position " + std::to_string(position));
}

void FakePlatform::SetBarColour(Handle bar_window, std::uint32_t colour) {
  Enter("SetBarColour", Hex(bar_window) + " " + Hex(colour));
  bar.push_back("colour " + Hex(colour));
}

}  // namespace telvor::installer
