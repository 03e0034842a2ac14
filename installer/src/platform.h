// What the installer needs of the machine, behind one narrow interface: the
// spooler's driver, monitor and printer management, the "Spooler" service,
// files, threads and the progress window. One Windows implementation
// (platform_windows.cpp), one POSIX implementation (platform_posix.cpp) and
// fakes in the tests. Every operation that fails leaves its error code for
// LastError(), as the Windows calls do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "telvor_common/text.h"

namespace telvor::installer {

// Opaque handle of a printer, a service, a thread or a window; 0 is none.
using Handle = std::uintptr_t;

using Names = std::vector<Text>;

// The driver as the spooler is given it (level 3). Absent texts are null.
struct DriverRecord {
  std::uint32_t version;
  const char16_t* name;
  const char16_t* environment;
  const char16_t* driver_path;
  const char16_t* data_file;
  const char16_t* config_file;
  const char16_t* help_file;
  // Names, each terminated, the list closed by an empty name.
  const char16_t* dependent_files;
  const char16_t* monitor_name;
  const char16_t* default_data_type;
};

// The printer as the spooler is given it (level 2); every other field of the
// platform's record is absent or 0.
struct PrinterRecord {
  const char16_t* name;
  const char16_t* port;
  const char16_t* driver;
  const char16_t* print_processor;
};

// The monitor as the spooler is given it (level 2).
struct MonitorRecord {
  const char16_t* name;
  const char16_t* environment;
  const char16_t* library;
};

// The installation's entry in the list of installed programs.
struct UninstallEntry {
  const char16_t* display_name;
  const char16_t* display_version;
  const char16_t* publisher;
  const char16_t* uninstall_command;
  const char16_t* quiet_uninstall_command;
};

// Copying the files of one INF section into a directory, the platform's own
// prompts owned by `owner`.
struct InfCopy {
  const char16_t* inf;  // a bare name: looked for where the system keeps its INFs
  const char16_t* inf_class;
  const char16_t* section;
  std::uint32_t directory_id;
  const char16_t* directory;
  Handle owner;
};

// Where an InfCopy stopped.
enum class InfStep { kOpenInf, kSetDirectory, kOpenQueue, kQueueFiles, kQueueContext, kCommit };

// The two fields of a service's status that the installer reads.
struct ServiceState {
  std::uint32_t current_state;
  std::uint32_t wait_hint;  // ms
};

// The installer's own threads.
enum class ThreadRoutine { kProgressWindow, kProgressAnimation };

class Platform {
 public:
  virtual ~Platform() = default;

  virtual std::uint32_t LastError() = 0;
  // The 32-bit millisecond tick count (it wraps).
  virtual std::uint32_t TickCount() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;

  // True for a 32-bit program on 64-bit Windows, whose spooler loads only
  // 64-bit monitors.
  virtual bool Is32BitOn64BitWindows() = 0;

  // Both give the length written without the terminator; 0 on failure; at
  // least `units` when the text did not fit.
  virtual std::uint32_t SystemDirectory(char16_t* area, std::uint32_t units) = 0;
  virtual std::uint32_t ProgramPath(char16_t* area, std::uint32_t units) = 0;
  // A file (not a directory) is there; otherwise the error says why not.
  virtual bool FileExists(const char16_t* path) = 0;
  // Overwrites an existing destination.
  virtual bool CopyFileOver(const char16_t* source, const char16_t* destination) = 0;
  // Makes `source` a source of the Application event log whose messages are
  // in `message_file` (a full path); an existing registration is updated.
  virtual bool RegisterEventLogSource(const char16_t* source, const char16_t* message_file) = 0;

  // The names the spooler lists: drivers of `environment`, local printers,
  // port monitors. Every record it returns, in its order.
  virtual bool ListDrivers(const char16_t* environment, Names& names) = 0;
  virtual bool ListPrinters(Names& names) = 0;
  virtual bool ListMonitors(Names& names) = 0;

  // The printer-driver directory of `environment` into `area` of `bytes`.
  virtual bool DriverDirectory(const char16_t* environment, char16_t* area,
                               std::uint32_t bytes) = 0;
  // Copies the files that the INF section lists; on failure `failed` names
  // the step. The INF and the queue are closed either way.
  virtual bool CopyInfFiles(const InfCopy& copy, InfStep* failed) = 0;
  virtual bool AddDriver(const DriverRecord& driver) = 0;
  // Installs a driver that the system keeps in its driver store.
  virtual bool InstallDriverFromStore(const char16_t* name, const char16_t* environment) = 0;

  // Opens a printer with full access, so that it can be deleted; 0 on failure.
  virtual Handle OpenPrinterToDelete(const char16_t* name) = 0;
  virtual bool DeletePrinter(Handle printer) = 0;
  virtual bool ClosePrinter(Handle printer) = 0;
  virtual bool DeleteMonitor(const char16_t* environment, const char16_t* name) = 0;
  virtual bool AddMonitor(const MonitorRecord& monitor) = 0;
  // Gives the added monitor's key its access list (SYSTEM and
  // Administrators alone) before any password is stored in it.
  virtual bool ProtectMonitorKey() = 0;
  // The new printer's handle, 0 on failure.
  virtual Handle AddPrinter(const PrinterRecord& printer) = 0;

  // The monitor's key (names.h). A value or key that is not there: true,
  // `present` false.
  virtual bool ReadMonitorValue(const char16_t* name, Text& value, bool& present) = 0;
  virtual bool WriteMonitorValue(const char16_t* name, const char16_t* value) = 0;
  // The key with its values; true when it is not there.
  virtual bool DeleteMonitorKey() = 0;
  // Removes a file; true when it is not there.
  virtual bool RemoveFile(const char16_t* path) = 0;
  // Removes an Application event log source; true when it is not there.
  virtual bool UnregisterEventLogSource(const char16_t* source) = 0;

  // The entry under kUninstallKeyPath (names.h), written over or removed
  // (true when it is not there).
  virtual bool WriteUninstallEntry(const UninstallEntry& entry) = 0;
  virtual bool RemoveUninstallEntry() = 0;

  // A file given by the administrator, whole.
  virtual bool ReadWholeFile(const char16_t* path, std::string& content) = 0;
  // Files of the installer's own in the monitor's folder under ProgramData
  // (kDataFolderName), which is made for SYSTEM and Administrators alone.
  // Reading one that is not there fails with 2; removing it succeeds.
  virtual bool WriteOwnFile(const char16_t* name, const std::string& content, bool append) = 0;
  virtual bool ReadOwnFile(const char16_t* name, std::string& content) = 0;
  virtual bool RemoveOwnFile(const char16_t* name) = 0;

  // A service of the local machine, opened for querying, starting and
  // stopping. 0 on failure.
  virtual Handle OpenServiceManager() = 0;
  virtual Handle OpenService(Handle manager, const char16_t* name) = 0;
  virtual bool QueryService(Handle service, ServiceState* state) = 0;
  // Asks the service to stop; `state` gets its latest status.
  virtual bool StopService(Handle service, ServiceState* state) = 0;
  virtual bool StartService(Handle service) = 0;
  virtual void CloseService(Handle handle) = 0;

  // Registers the progress bar's window class.
  virtual void PrepareProgressBar() = 0;
  // Starts `routine` on a new thread; its handle, 0 on failure.
  virtual Handle StartThread(ThreadRoutine routine) = 0;
  virtual void EndThread(std::uint32_t exit_code) = 0;
  virtual void SuspendThread(Handle thread) = 0;
  virtual void ResumeThread(Handle thread) = 0;

  // The top-level window at the top of the Z order.
  virtual Handle TopWindow() = 0;
  // Shows a message box and waits until it is confirmed. `style` holds the
  // kBox* flags of report.h.
  virtual void ShowMessage(Handle owner, const char16_t* text, const char16_t* caption,
                           std::uint32_t style) = 0;
  // Runs the named dialog of the program's resources modally on the calling
  // thread; its result, 0 or -1 when it could not be shown.
  virtual std::intptr_t RunDialog(const char16_t* template_name, Handle owner) = 0;
  virtual void EndDialog(Handle dialog, std::intptr_t result) = 0;
  virtual Handle DialogItem(Handle dialog, std::int32_t id) = 0;
  virtual void Activate(Handle window) = 0;
  virtual void SetBarPosition(Handle bar, std::int32_t position) = 0;
  // COLORREF 0x00BBGGRR.
  virtual void SetBarColour(Handle bar, std::uint32_t colour) = 0;
};

// The machine's own platform.
Platform& SystemPlatform();
// What the installer calls: the system's, or a test's fake.
Platform& CurrentPlatform();
// Puts `platform` in place; null restores the system's.
void UsePlatform(Platform* platform);

}  // namespace telvor::installer
