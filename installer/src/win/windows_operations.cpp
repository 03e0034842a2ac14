#include "windows_operations.h"

#include <commctrl.h>
#include <setupapi.h>
#include <winspool.h>

#include <cstddef>

#include "../progress.h"
#include "../report.h"

namespace telvor::installer {

HINSTANCE InstanceHandle = nullptr;

WindowsOperations& Platform() {
  static WindowsOperations* const platform = new WindowsOperations();
  return *platform;
}

namespace {

// The spooler fills the enumeration areas with its own records; the portable
// code reads them through these twins.
static_assert(sizeof(DriverInfo1) == sizeof(DRIVER_INFO_1W));
static_assert(offsetof(DriverInfo1, name) == offsetof(DRIVER_INFO_1W, pName));
static_assert(sizeof(MonitorInfo1) == sizeof(MONITOR_INFO_1W));
static_assert(offsetof(MonitorInfo1, name) == offsetof(MONITOR_INFO_1W, pName));
static_assert(sizeof(PrinterInfo4) == sizeof(PRINTER_INFO_4W));
static_assert(offsetof(PrinterInfo4, printer_name) == offsetof(PRINTER_INFO_4W, pPrinterName));
static_assert(offsetof(PrinterInfo4, server_name) == offsetof(PRINTER_INFO_4W, pServerName));
static_assert(offsetof(PrinterInfo4, attributes) == offsetof(PRINTER_INFO_4W, Attributes));
static_assert(sizeof(wchar_t) == sizeof(char16_t));

static_assert(kWmInitDialog == WM_INITDIALOG && kWmCommand == WM_COMMAND);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL);
static_assert(kPbmSetPos == PBM_SETPOS && kPbmSetBarColor == PBM_SETBARCOLOR);
static_assert(kIccProgressClass == ICC_PROGRESS_CLASS);
static_assert(kMbOk == MB_OK && kMbIconInformation == MB_ICONINFORMATION);
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);

LPCWSTR Wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }
// The spooler's records and some of its calls take non-const texts that
// they only read.
LPWSTR WideField(const char16_t* text) { return const_cast<LPWSTR>(Wide(text)); }
LPWSTR WideArea(char16_t* area) { return reinterpret_cast<LPWSTR>(area); }

template <typename T>
T As(Handle handle) {
  return reinterpret_cast<T>(handle);
}
template <typename T>
Handle From(T handle) {
  return reinterpret_cast<Handle>(handle);
}

DWORD WINAPI WindowThreadEntry(LPVOID) { return ProgressWindowThread(Platform()); }

DWORD WINAPI AnimationThreadEntry(LPVOID) { ProgressAnimationThread(Platform()); }

INT_PTR CALLBACK DialogEntry(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  return ProgressDialogProc(Platform(), From(dialog), message, wparam, lparam);
}

void CopyStatus(const SERVICE_STATUS& from, ServiceStatus* to) {
  to->service_type = from.dwServiceType;
  to->current_state = from.dwCurrentState;
  to->controls_accepted = from.dwControlsAccepted;
  to->win32_exit_code = from.dwWin32ExitCode;
  to->service_specific_exit_code = from.dwServiceSpecificExitCode;
  to->check_point = from.dwCheckPoint;
  to->wait_hint = from.dwWaitHint;
}

}  // namespace

std::uint32_t WindowsOperations::GetLastError() { return ::GetLastError(); }

std::uint32_t WindowsOperations::GetTickCount() { return ::GetTickCount(); }

void WindowsOperations::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::uint32_t WindowsOperations::GetSystemDirectoryW(char16_t* area, std::uint32_t size) {
  return ::GetSystemDirectoryW(WideArea(area), size);
}

std::uint32_t WindowsOperations::GetModuleFileNameW(char16_t* area, std::uint32_t size) {
  return ::GetModuleFileNameW(nullptr, WideArea(area), size);
}

bool WindowsOperations::CopyFileW(const char16_t* source, const char16_t* destination,
                                  bool fail_if_exists) {
  return ::CopyFileW(Wide(source), Wide(destination), fail_if_exists) != FALSE;
}

Handle WindowsOperations::CreateThread(ThreadRoutine routine) {
  LPTHREAD_START_ROUTINE entry =
      routine == ThreadRoutine::kProgressWindow ? WindowThreadEntry : AnimationThreadEntry;
  return From(::CreateThread(nullptr, 0, entry, nullptr, 0, nullptr));
}

void WindowsOperations::ExitThread(std::uint32_t exit_code) { ::ExitThread(exit_code); }

void WindowsOperations::SuspendThread(Handle thread) { ::SuspendThread(As<HANDLE>(thread)); }

void WindowsOperations::ResumeThread(Handle thread) { ::ResumeThread(As<HANDLE>(thread)); }

bool WindowsOperations::EnumPrinterDriversW(const char16_t* environment, std::uint32_t level,
                                            unsigned char* area, std::uint32_t size,
                                            std::uint32_t* needed, std::uint32_t* returned) {
  DWORD needed_bytes = 0;
  DWORD count = 0;
  const BOOL ok = ::EnumPrinterDriversW(nullptr, WideField(environment), level, area, size,
                                        &needed_bytes, &count);
  *needed = needed_bytes;
  *returned = count;
  return ok != FALSE;
}

bool WindowsOperations::EnumPrintersW(std::uint32_t flags, std::uint32_t level, unsigned char* area,
                                      std::uint32_t size, std::uint32_t* needed,
                                      std::uint32_t* returned) {
  DWORD needed_bytes = 0;
  DWORD count = 0;
  const BOOL ok = ::EnumPrintersW(flags, nullptr, level, area, size, &needed_bytes, &count);
  *needed = needed_bytes;
  *returned = count;
  return ok != FALSE;
}

bool WindowsOperations::EnumMonitorsW(std::uint32_t level, unsigned char* area, std::uint32_t size,
                                      std::uint32_t* needed, std::uint32_t* returned) {
  DWORD needed_bytes = 0;
  DWORD count = 0;
  const BOOL ok = ::EnumMonitorsW(nullptr, level, area, size, &needed_bytes, &count);
  *needed = needed_bytes;
  *returned = count;
  return ok != FALSE;
}

bool WindowsOperations::GetPrinterDriverDirectoryW(const char16_t* environment, std::uint32_t level,
                                                   unsigned char* area, std::uint32_t size,
                                                   std::uint32_t* needed) {
  DWORD needed_bytes = 0;
  const BOOL ok = ::GetPrinterDriverDirectoryW(nullptr, WideField(environment), level, area, size,
                                               &needed_bytes);
  *needed = needed_bytes;
  return ok != FALSE;
}

bool WindowsOperations::AddPrinterDriverW(const DriverInfo3& driver) {
  DRIVER_INFO_3W info;
  info.cVersion = driver.version;
  info.pName = WideField(driver.name);
  info.pEnvironment = WideField(driver.environment);
  info.pDriverPath = WideField(driver.driver_path);
  info.pDataFile = WideField(driver.data_file);
  info.pConfigFile = WideField(driver.config_file);
  info.pHelpFile = WideField(driver.help_file);
  info.pDependentFiles = WideField(driver.dependent_files);
  info.pMonitorName = WideField(driver.monitor_name);
  info.pDefaultDataType = WideField(driver.default_data_type);
  return ::AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&info)) != FALSE;
}

bool WindowsOperations::OpenPrinterW(const char16_t* name, Handle* printer,
                                     const PrinterDefaults& defaults) {
  PRINTER_DEFAULTSW access;
  access.pDatatype = WideField(defaults.data_type);
  access.pDevMode = static_cast<LPDEVMODEW>(defaults.dev_mode);
  access.DesiredAccess = defaults.desired_access;
  HANDLE opened = nullptr;
  const BOOL ok = ::OpenPrinterW(WideField(name), &opened, &access);
  *printer = From(opened);
  return ok != FALSE;
}

bool WindowsOperations::DeletePrinter(Handle printer) {
  return ::DeletePrinter(As<HANDLE>(printer)) != FALSE;
}

bool WindowsOperations::DeleteMonitorW(const char16_t* environment, const char16_t* monitor) {
  return ::DeleteMonitorW(nullptr, WideField(environment), WideField(monitor)) != FALSE;
}

bool WindowsOperations::AddMonitorW(const MonitorInfo2& monitor) {
  MONITOR_INFO_2W info;
  info.pName = WideField(monitor.name);
  info.pEnvironment = WideField(monitor.environment);
  info.pDLLName = WideField(monitor.dll_name);
  return ::AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)) != FALSE;
}

Handle WindowsOperations::AddPrinterW(const PrinterInfo2& printer) {
  PRINTER_INFO_2W info;
  info.pServerName = WideField(printer.server_name);
  info.pPrinterName = WideField(printer.printer_name);
  info.pShareName = WideField(printer.share_name);
  info.pPortName = WideField(printer.port_name);
  info.pDriverName = WideField(printer.driver_name);
  info.pComment = WideField(printer.comment);
  info.pLocation = WideField(printer.location);
  info.pDevMode = static_cast<LPDEVMODEW>(printer.dev_mode);
  info.pSepFile = WideField(printer.sep_file);
  info.pPrintProcessor = WideField(printer.print_processor);
  info.pDatatype = WideField(printer.data_type);
  info.pParameters = WideField(printer.parameters);
  info.pSecurityDescriptor = static_cast<PSECURITY_DESCRIPTOR>(printer.security_descriptor);
  info.Attributes = printer.attributes;
  info.Priority = printer.priority;
  info.DefaultPriority = printer.default_priority;
  info.StartTime = printer.start_time;
  info.UntilTime = printer.until_time;
  info.Status = printer.status;
  info.cJobs = printer.jobs;
  info.AveragePPM = printer.average_ppm;
  return From(::AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
}

bool WindowsOperations::ClosePrinter(Handle printer) {
  return ::ClosePrinter(As<HANDLE>(printer)) != FALSE;
}

Handle WindowsOperations::SetupOpenInfFileW(const char16_t* name, const char16_t* inf_class,
                                            std::uint32_t style, std::uint32_t* error_line) {
  UINT line = 0;
  const HINF inf = ::SetupOpenInfFileW(Wide(name), Wide(inf_class), style, &line);
  *error_line = line;
  return From(inf);
}

bool WindowsOperations::SetupSetDirectoryIdW(Handle inf, std::uint32_t id,
                                             const char16_t* directory) {
  return ::SetupSetDirectoryIdW(As<HINF>(inf), id, Wide(directory)) != FALSE;
}

Handle WindowsOperations::SetupOpenFileQueue() { return From(::SetupOpenFileQueue()); }

bool WindowsOperations::SetupInstallFilesFromInfSectionW(Handle inf, Handle layout_inf,
                                                         Handle queue, const char16_t* section,
                                                         const char16_t* source_root,
                                                         std::uint32_t copy_flags) {
  return ::SetupInstallFilesFromInfSectionW(As<HINF>(inf), As<HINF>(layout_inf),
                                            As<HSPFILEQ>(queue), Wide(section), Wide(source_root),
                                            copy_flags) != FALSE;
}

Handle WindowsOperations::SetupInitDefaultQueueCallback(Handle owner) {
  return From(::SetupInitDefaultQueueCallback(As<HWND>(owner)));
}

bool WindowsOperations::SetupCommitFileQueueW(Handle owner, Handle queue, Handle context) {
  return ::SetupCommitFileQueueW(As<HWND>(owner), As<HSPFILEQ>(queue), SetupDefaultQueueCallbackW,
                                 As<PVOID>(context)) != FALSE;
}

void WindowsOperations::SetupCloseFileQueue(Handle queue) {
  ::SetupCloseFileQueue(As<HSPFILEQ>(queue));
}

void WindowsOperations::SetupCloseInfFile(Handle inf) { ::SetupCloseInfFile(As<HINF>(inf)); }

Handle WindowsOperations::OpenSCManagerW(std::uint32_t access) {
  return From(::OpenSCManagerW(nullptr, nullptr, access));
}

Handle WindowsOperations::OpenServiceW(Handle manager, const char16_t* name, std::uint32_t access) {
  return From(::OpenServiceW(As<SC_HANDLE>(manager), Wide(name), access));
}

bool WindowsOperations::QueryServiceStatus(Handle service, ServiceStatus* status) {
  SERVICE_STATUS current{};
  const BOOL ok = ::QueryServiceStatus(As<SC_HANDLE>(service), &current);
  if (ok != FALSE) CopyStatus(current, status);
  return ok != FALSE;
}

bool WindowsOperations::ControlService(Handle service, std::uint32_t control,
                                       ServiceStatus* status) {
  SERVICE_STATUS latest{};
  const BOOL ok = ::ControlService(As<SC_HANDLE>(service), control, &latest);
  if (ok != FALSE) CopyStatus(latest, status);
  return ok != FALSE;
}

bool WindowsOperations::StartServiceW(Handle service) {
  return ::StartServiceW(As<SC_HANDLE>(service), 0, nullptr) != FALSE;
}

void WindowsOperations::CloseServiceHandle(Handle handle) {
  ::CloseServiceHandle(As<SC_HANDLE>(handle));
}

void WindowsOperations::InitCommonControlsEx(std::uint32_t classes) {
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;
  controls.dwICC = classes;
  ::InitCommonControlsEx(&controls);
}

Handle WindowsOperations::GetTopWindow() { return From(::GetTopWindow(nullptr)); }

std::int32_t WindowsOperations::MessageBoxW(Handle owner, const char16_t* text,
                                            const char16_t* caption, std::uint32_t type) {
  return ::MessageBoxW(As<HWND>(owner), Wide(text), Wide(caption), type);
}

std::intptr_t WindowsOperations::DialogBoxParamW(const char16_t* template_name, Handle owner) {
  return ::DialogBoxParamW(InstanceHandle, Wide(template_name), As<HWND>(owner), DialogEntry, 0);
}

bool WindowsOperations::EndDialog(Handle dialog, std::intptr_t result) {
  return ::EndDialog(As<HWND>(dialog), result) != FALSE;
}

Handle WindowsOperations::GetDlgItem(Handle dialog, std::int32_t id) {
  return From(::GetDlgItem(As<HWND>(dialog), id));
}

Handle WindowsOperations::SetActiveWindow(Handle window) {
  return From(::SetActiveWindow(As<HWND>(window)));
}

std::intptr_t WindowsOperations::SendMessageW(Handle window, std::uint32_t message,
                                              std::uintptr_t wparam, std::intptr_t lparam) {
  return ::SendMessageW(As<HWND>(window), message, wparam, lparam);
}

}  // namespace telvor::installer
