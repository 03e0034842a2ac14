// The installer's operations on the Windows API: one call each, texts and
// records converted at the boundary.
#pragma once

#include <windows.h>

#include "../operations.h"

namespace telvor::installer {

// The program's instance handle, kept by the entry for the dialog.
extern HINSTANCE InstanceHandle;

class WindowsOperations final : public InstallerOperations {
 public:
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
};

// The one instance all three threads use. It is never destroyed: the window
// and animation threads still run while the process exits.
WindowsOperations& Platform();

}  // namespace telvor::installer
