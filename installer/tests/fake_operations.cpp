#include "fake_operations.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace telvor::installer {
namespace {

constexpr std::uint32_t kInsufficientBuffer = 122;
constexpr std::uint32_t kInvalidPrinterName = 1801;
constexpr std::uint32_t kPrinterAlreadyExists = 1802;
constexpr std::uint32_t kUnknownMonitor = 3000;
constexpr std::uint32_t kMonitorAlreadyInstalled = 3006;

void SetName(DriverInfo1& record, const char16_t* name) { record.name = name; }
void SetName(MonitorInfo1& record, const char16_t* name) { record.name = name; }
void SetName(PrinterInfo4& record, const char16_t* name) {
  record.printer_name = name;
  record.server_name = nullptr;
  record.attributes = 0;
}

bool Remove(std::vector<Text>& names, const char16_t* name) {
  const auto at = std::find(names.begin(), names.end(), Text(name));
  if (at == names.end()) return false;
  names.erase(at);
  return true;
}

bool Contains(const std::vector<Text>& names, const char16_t* name) {
  return std::find(names.begin(), names.end(), Text(name)) != names.end();
}

std::string Hex(std::uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::string Utf8(const char16_t* text) { return text ? ToUtf8(text) : "(null)"; }

void FakeOperations::Fail(const std::string& call, std::uint32_t code, int occurrence) {
  failures_.insert({call, Failure{code, occurrence}});
}

std::vector<std::string> FakeOperations::Calls() const {
  std::vector<std::string> names;
  for (const auto& entry : log) {
    const std::string name = entry.substr(0, entry.find(' '));
    if (name != "GetLastError") names.push_back(name);
  }
  return names;
}

int FakeOperations::CountOf(const std::string& call) const {
  const auto names = Calls();
  return static_cast<int>(std::count(names.begin(), names.end(), call));
}

bool FakeOperations::Enter(const std::string& call, const std::string& arguments) {
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

std::uint32_t FakeOperations::GetLastError() {
  log.push_back("GetLastError");
  return last_error_;
}

std::uint32_t FakeOperations::GetTickCount() {
  Enter("GetTickCount");
  return tick;
}

void FakeOperations::Sleep(std::uint32_t milliseconds) {
  Enter("Sleep", std::to_string(milliseconds));
  tick += milliseconds;
}

std::uint32_t FakeOperations::GetSystemDirectoryW(char16_t* area, std::uint32_t size) {
  if (Enter("GetSystemDirectoryW", std::to_string(size))) return 0;
  if (system_directory_needs != 0) return system_directory_needs;
  if (system_directory.size() + 1 > size)
    return static_cast<std::uint32_t>(system_directory.size() + 1);
  CopyText(area, size, system_directory);
  return static_cast<std::uint32_t>(system_directory.size());
}

std::uint32_t FakeOperations::GetModuleFileNameW(char16_t* area, std::uint32_t size) {
  Enter("GetModuleFileNameW", std::to_string(size));
  // Cut to the area, terminated, and reported as the area's size.
  const std::size_t length = std::min<std::size_t>(module_path.size(), size - 1);
  module_path.copy(area, length);
  area[length] = 0;
  if (module_path.size() >= size) {
    last_error_ = kInsufficientBuffer;
    return size;
  }
  return static_cast<std::uint32_t>(length);
}

bool FakeOperations::CopyFileW(const char16_t* source, const char16_t* destination,
                               bool fail_if_exists) {
  return !Enter("CopyFileW", Utf8(source) + " -> " + Utf8(destination) +
                                 (fail_if_exists ? " keep" : " overwrite"));
}

Handle FakeOperations::CreateThread(ThreadRoutine routine) {
  const bool window = routine == ThreadRoutine::kProgressWindow;
  if (Enter("CreateThread", window ? "window" : "animation")) return 0;
  return window ? kWindowThread : kAnimationThread;
}

void FakeOperations::ExitThread(std::uint32_t exit_code) {
  Enter("ExitThread", std::to_string(exit_code));
}

void FakeOperations::SuspendThread(Handle thread) {
  Enter("SuspendThread", std::to_string(++suspend_count[thread]));
}

void FakeOperations::ResumeThread(Handle thread) {
  Enter("ResumeThread", std::to_string(--suspend_count[thread]));
}

template <typename Record>
bool FakeOperations::Enumerate(const std::vector<Text>& names, unsigned char* area,
                               std::uint32_t size, std::uint32_t* needed, std::uint32_t* returned) {
  // As the spooler lays them out: the records, then their texts.
  std::size_t bytes = names.size() * sizeof(Record);
  for (const auto& name : names) bytes += (name.size() + 1) * sizeof(char16_t);
  *needed = static_cast<std::uint32_t>(bytes);
  *returned = 0;
  if (bytes > size) {
    last_error_ = kInsufficientBuffer;
    return false;
  }
  unsigned char* text = area + names.size() * sizeof(Record);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::size_t text_bytes = (names[i].size() + 1) * sizeof(char16_t);
    std::memcpy(text, names[i].c_str(), text_bytes);
    Record record;
    SetName(record, reinterpret_cast<const char16_t*>(text));
    std::memcpy(area + i * sizeof(Record), &record, sizeof record);
    text += text_bytes;
  }
  *returned = static_cast<std::uint32_t>(names.size());
  return true;
}

bool FakeOperations::EnumPrinterDriversW(const char16_t* environment, std::uint32_t level,
                                         unsigned char* area, std::uint32_t size,
                                         std::uint32_t* needed, std::uint32_t* returned) {
  if (Enter("EnumPrinterDriversW", Utf8(environment) + " level " + std::to_string(level) +
                                       " size " + std::to_string(size))) {
    return false;
  }
  return Enumerate<DriverInfo1>(drivers, area, size, needed, returned);
}

bool FakeOperations::EnumPrintersW(std::uint32_t flags, std::uint32_t level, unsigned char* area,
                                   std::uint32_t size, std::uint32_t* needed,
                                   std::uint32_t* returned) {
  if (Enter("EnumPrintersW", "flags " + std::to_string(flags) + " level " + std::to_string(level) +
                                 " size " + std::to_string(size))) {
    return false;
  }
  return Enumerate<PrinterInfo4>(printers, area, size, needed, returned);
}

bool FakeOperations::EnumMonitorsW(std::uint32_t level, unsigned char* area, std::uint32_t size,
                                   std::uint32_t* needed, std::uint32_t* returned) {
  if (Enter("EnumMonitorsW", "level " + std::to_string(level) + " size " + std::to_string(size))) {
    return false;
  }
  return Enumerate<MonitorInfo1>(monitors, area, size, needed, returned);
}

bool FakeOperations::GetPrinterDriverDirectoryW(const char16_t* environment, std::uint32_t level,
                                                unsigned char* area, std::uint32_t size,
                                                std::uint32_t* needed) {
  if (Enter("GetPrinterDriverDirectoryW", Utf8(environment) + " level " + std::to_string(level) +
                                              " size " + std::to_string(size))) {
    return false;
  }
  const std::size_t bytes = (driver_directory.size() + 1) * sizeof(char16_t);
  *needed = static_cast<std::uint32_t>(bytes);
  if (bytes > size) {
    last_error_ = kInsufficientBuffer;
    return false;
  }
  std::memcpy(area, driver_directory.c_str(), bytes);
  return true;
}

bool FakeOperations::AddPrinterDriverW(const DriverInfo3& driver) {
  if (Enter("AddPrinterDriverW", Utf8(driver.name))) return false;
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

bool FakeOperations::OpenPrinterW(const char16_t* name, Handle* printer,
                                  const PrinterDefaults& defaults) {
  if (Enter("OpenPrinterW", Utf8(name))) return false;
  open_defaults = defaults;
  if (!Contains(printers, name)) {
    last_error_ = kInvalidPrinterName;
    return false;
  }
  opened_printer_ = name;
  *printer = kOldPrinter;
  return true;
}

bool FakeOperations::DeletePrinter(Handle printer) {
  if (Enter("DeletePrinter", Hex(printer))) return false;
  Remove(printers, opened_printer_.c_str());
  return true;
}

bool FakeOperations::DeleteMonitorW(const char16_t* environment, const char16_t* monitor) {
  if (Enter("DeleteMonitorW", Utf8(environment) + " " + Utf8(monitor))) return false;
  if (!Remove(monitors, monitor)) {
    last_error_ = kUnknownMonitor;
    return false;
  }
  return true;
}

bool FakeOperations::AddMonitorW(const MonitorInfo2& monitor) {
  if (Enter("AddMonitorW", Utf8(monitor.name))) return false;
  if (Contains(monitors, monitor.name)) {
    last_error_ = kMonitorAlreadyInstalled;
    return false;
  }
  added_monitor = monitor;
  monitors.emplace_back(monitor.name);
  return true;
}

Handle FakeOperations::AddPrinterW(const PrinterInfo2& printer) {
  if (Enter("AddPrinterW", Utf8(printer.printer_name))) return 0;
  if (Contains(printers, printer.printer_name)) {
    last_error_ = kPrinterAlreadyExists;
    return 0;
  }
  added_printer = printer;
  printers.emplace_back(printer.printer_name);
  return kNewPrinter;
}

bool FakeOperations::ClosePrinter(Handle printer) { return !Enter("ClosePrinter", Hex(printer)); }

Handle FakeOperations::SetupOpenInfFileW(const char16_t* name, const char16_t* inf_class,
                                         std::uint32_t style, std::uint32_t* error_line) {
  *error_line = 0;
  if (Enter("SetupOpenInfFileW",
            Utf8(name) + " " + Utf8(inf_class) + " style " + std::to_string(style))) {
    return kInvalidHandle;
  }
  return kInf;
}

bool FakeOperations::SetupSetDirectoryIdW(Handle inf, std::uint32_t id, const char16_t* directory) {
  return !Enter("SetupSetDirectoryIdW",
                Hex(inf) + " " + std::to_string(id) + " " + Utf8(directory));
}

Handle FakeOperations::SetupOpenFileQueue() {
  return Enter("SetupOpenFileQueue") ? kInvalidHandle : kQueue;
}

bool FakeOperations::SetupInstallFilesFromInfSectionW(Handle inf, Handle layout_inf, Handle queue,
                                                      const char16_t* section,
                                                      const char16_t* source_root,
                                                      std::uint32_t copy_flags) {
  return !Enter("SetupInstallFilesFromInfSectionW",
                Hex(inf) + " " + Hex(layout_inf) + " " + Hex(queue) + " " + Utf8(section) + " " +
                    Utf8(source_root) + " flags " + std::to_string(copy_flags));
}

Handle FakeOperations::SetupInitDefaultQueueCallback(Handle owner) {
  return Enter("SetupInitDefaultQueueCallback", Hex(owner)) ? 0 : kQueueContext;
}

bool FakeOperations::SetupCommitFileQueueW(Handle owner, Handle queue, Handle context) {
  return !Enter("SetupCommitFileQueueW", Hex(owner) + " " + Hex(queue) + " " + Hex(context));
}

void FakeOperations::SetupCloseFileQueue(Handle queue) { Enter("SetupCloseFileQueue", Hex(queue)); }

void FakeOperations::SetupCloseInfFile(Handle inf) { Enter("SetupCloseInfFile", Hex(inf)); }

Handle FakeOperations::OpenSCManagerW(std::uint32_t access) {
  return Enter("OpenSCManagerW", std::to_string(access)) ? 0 : kManager;
}

Handle FakeOperations::OpenServiceW(Handle manager, const char16_t* name, std::uint32_t access) {
  return Enter("OpenServiceW", Hex(manager) + " " + Utf8(name) + " " + std::to_string(access))
             ? 0
             : kService;
}

bool FakeOperations::QueryServiceStatus(Handle service, ServiceStatus* status) {
  if (Enter("QueryServiceStatus", Hex(service))) return false;
  QueryReply reply{true, service_state, 0, 0};
  if (!query_script.empty()) {
    reply = query_script.front();
    query_script.pop_front();
  }
  if (!reply.ok) {
    last_error_ = reply.error;
    return false;
  }
  *status = ServiceStatus{};
  status->current_state = reply.state;
  status->wait_hint = reply.wait_hint;
  return true;
}

bool FakeOperations::ControlService(Handle service, std::uint32_t control, ServiceStatus* status) {
  if (Enter("ControlService", Hex(service) + " " + std::to_string(control))) return false;
  service_state = 1;
  *status = ServiceStatus{};
  status->current_state = stop_reply.state;
  status->wait_hint = stop_reply.wait_hint;
  return true;
}

bool FakeOperations::StartServiceW(Handle service) {
  if (Enter("StartServiceW", Hex(service))) return false;
  service_state = 4;
  ++restarts;
  return true;
}

void FakeOperations::CloseServiceHandle(Handle handle) { Enter("CloseServiceHandle", Hex(handle)); }

void FakeOperations::InitCommonControlsEx(std::uint32_t classes) {
  Enter("InitCommonControlsEx", Hex(classes));
}

Handle FakeOperations::GetTopWindow() {
  Enter("GetTopWindow");
  return kTopWindow;
}

std::int32_t FakeOperations::MessageBoxW(Handle owner, const char16_t* text,
                                         const char16_t* caption, std::uint32_t type) {
  Enter("MessageBoxW", Utf8(text));
  boxes.push_back(ShownBox{owner, Utf8(text), Utf8(caption), type});
  return 1;
}

std::intptr_t FakeOperations::DialogBoxParamW(const char16_t* template_name, Handle owner) {
  Enter("DialogBoxParamW", Utf8(template_name) + " " + Hex(owner));
  last_error_ = dialog_error;
  return dialog_result;
}

bool FakeOperations::EndDialog(Handle dialog, std::intptr_t result) {
  return !Enter("EndDialog", Hex(dialog) + " " + std::to_string(result));
}

Handle FakeOperations::GetDlgItem(Handle dialog, std::int32_t id) {
  Enter("GetDlgItem", Hex(dialog) + " " + std::to_string(id));
  return dialog == kDialog && id == 1000 ? kProgressBar : 0;
}

Handle FakeOperations::SetActiveWindow(Handle window) {
  Enter("SetActiveWindow", Hex(window));
  return 0;
}

std::intptr_t FakeOperations::SendMessageW(Handle window, std::uint32_t message,
                                           std::uintptr_t wparam, std::intptr_t lparam) {
  Enter("SendMessageW");
  sent.push_back(SentMessage{window, message, wparam, lparam});
  return 0;
}

}  // namespace telvor::installer
