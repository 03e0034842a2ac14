// The installer's platform on the Windows API: one call each, texts and
// records converted at the boundary.
#include <windows.h>
// After windows.h.
#include <commctrl.h>
#include <setupapi.h>
#include <winspool.h>

#include <memory>
#include <new>

#include "platform.h"
#include "progress.h"
#include "report.h"
#include "telvor_common/monitor_key_windows.h"
#include "telvor_common/win_errors.h"

namespace telvor::installer {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(kWmInitDialog == WM_INITDIALOG && kWmCommand == WM_COMMAND);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL);
static_assert(kBoxOk == MB_OK && kBoxInformation == MB_ICONINFORMATION);
static_assert(kBoxForeground == MB_SETFOREGROUND && kBoxTopmost == MB_TOPMOST);
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);

LPCWSTR Wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }
// The spooler's records and some of its calls take non-const texts that
// they only read.
LPWSTR WideField(const char16_t* text) { return const_cast<LPWSTR>(Wide(text)); }
const char16_t* Portable(LPCWSTR text) { return reinterpret_cast<const char16_t*>(text); }

template <typename T>
T As(Handle handle) {
  return reinterpret_cast<T>(handle);
}
template <typename T>
Handle From(T handle) {
  return reinterpret_cast<Handle>(handle);
}

DWORD WINAPI WindowThreadEntry(LPVOID) { return ProgressWindowThread(); }

DWORD WINAPI AnimationThreadEntry(LPVOID) { ProgressAnimationThread(); }

INT_PTR CALLBACK DialogEntry(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  return ProgressDialogProc(From(dialog), message, wparam, lparam);
}

// Where the Application event log looks its sources up.
const char16_t kApplicationLogSources[] =
    u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

LPWSTR NameOf(const DRIVER_INFO_1W& record) { return record.pName; }
LPWSTR NameOf(const PRINTER_INFO_4W& record) { return record.pPrinterName; }
LPWSTR NameOf(const MONITOR_INFO_1W& record) { return record.pName; }

// The usual two calls: the size first, then an area of exactly that size.
// Gives the names of the records the spooler wrote there.
template <typename Record, typename Enumerate>
bool ListNames(Names& names, Enumerate enumerate) {
  DWORD needed = 0;
  DWORD count = 0;
  enumerate(nullptr, 0, &needed, &count);  // only the size matters
  std::unique_ptr<BYTE[]> area(new (std::nothrow) BYTE[needed]);
  if (!area) {
    ::SetLastError(win_error::kNotEnoughMemory);
    return false;
  }
  count = 0;
  if (!enumerate(area.get(), needed, &needed, &count)) return false;
  // Never read past the area, whatever count comes back.
  const DWORD fits = needed / sizeof(Record);
  names.clear();
  for (DWORD i = 0; i < count && i < fits; ++i) {
    const LPWSTR name = NameOf(reinterpret_cast<const Record*>(area.get())[i]);
    names.emplace_back(name != nullptr ? Portable(name) : u"");
  }
  return true;
}

void Fill(const SERVICE_STATUS& status, ServiceState* state) {
  state->current_state = status.dwCurrentState;
  state->wait_hint = status.dwWaitHint;
}

class WindowsPlatform final : public Platform {
 public:
  std::uint32_t LastError() override { return ::GetLastError(); }

  std::uint32_t TickCount() override { return ::GetTickCount(); }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

  bool Is32BitOn64BitWindows() override {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
  }

  std::uint32_t SystemDirectory(char16_t* area, std::uint32_t units) override {
    return ::GetSystemDirectoryW(reinterpret_cast<LPWSTR>(area), units);
  }

  std::uint32_t ProgramPath(char16_t* area, std::uint32_t units) override {
    return ::GetModuleFileNameW(nullptr, reinterpret_cast<LPWSTR>(area), units);
  }

  bool FileExists(const char16_t* path) override {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
    ::SetLastError(win_error::kAccessDenied);  // what opening a directory gives
    return false;
  }

  bool CopyFileOver(const char16_t* source, const char16_t* destination) override {
    return ::CopyFileW(Wide(source), Wide(destination), FALSE) != FALSE;
  }

  bool RegisterEventLogSource(const char16_t* source, const char16_t* message_file) override {
    const Text path = Text(kApplicationLogSources) + source;
    HKEY key = nullptr;
    LSTATUS status =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(path.c_str()), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
      const DWORD file_bytes =
          static_cast<DWORD>((TextLength(message_file) + 1) * sizeof(char16_t));
      const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
      status = ::RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                                reinterpret_cast<const BYTE*>(message_file), file_bytes);
      if (status == ERROR_SUCCESS) {
        status = ::RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&types), sizeof types);
      }
      ::RegCloseKey(key);
    }
    // The registry answers with the code instead of leaving it.
    ::SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
  }

  bool ListDrivers(const char16_t* environment, Names& names) override {
    return ListNames<DRIVER_INFO_1W>(names, [&](BYTE* area, DWORD size, DWORD* needed,
                                                DWORD* count) {
      return ::EnumPrinterDriversW(nullptr, WideField(environment), 1, area, size, needed, count);
    });
  }

  bool ListPrinters(Names& names) override {
    return ListNames<PRINTER_INFO_4W>(
        names, [](BYTE* area, DWORD size, DWORD* needed, DWORD* count) {
          return ::EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, area, size, needed, count);
        });
  }

  bool ListMonitors(Names& names) override {
    return ListNames<MONITOR_INFO_1W>(
        names, [](BYTE* area, DWORD size, DWORD* needed, DWORD* count) {
          return ::EnumMonitorsW(nullptr, 1, area, size, needed, count);
        });
  }

  bool DriverDirectory(const char16_t* environment, char16_t* area, std::uint32_t bytes) override {
    DWORD needed = 0;
    return ::GetPrinterDriverDirectoryW(nullptr, WideField(environment), 1,
                                        reinterpret_cast<LPBYTE>(area), bytes, &needed) != FALSE;
  }

  bool CopyInfFiles(const InfCopy& copy, InfStep* failed) override {
    UINT error_line = 0;
    const HINF inf =
        ::SetupOpenInfFileW(Wide(copy.inf), Wide(copy.inf_class), INF_STYLE_WIN4, &error_line);
    if (inf == INVALID_HANDLE_VALUE) {
      *failed = InfStep::kOpenInf;
      return false;
    }
    HSPFILEQ queue = INVALID_HANDLE_VALUE;
    const bool done = [&] {
      if (!::SetupSetDirectoryIdW(inf, copy.directory_id, Wide(copy.directory))) {
        *failed = InfStep::kSetDirectory;
        return false;
      }
      queue = ::SetupOpenFileQueue();
      if (queue == INVALID_HANDLE_VALUE) {
        *failed = InfStep::kOpenQueue;
        return false;
      }
      // The INF is its own layout INF; no source root: the files lie where
      // the INF says.
      if (!::SetupInstallFilesFromInfSectionW(inf, inf, queue, Wide(copy.section), nullptr,
                                              SP_COPY_NOOVERWRITE)) {
        *failed = InfStep::kQueueFiles;
        return false;
      }
      // Left to the end of the process, as the platform's prompts may still
      // refer to it.
      const PVOID context = ::SetupInitDefaultQueueCallback(As<HWND>(copy.owner));
      if (context == nullptr) {
        *failed = InfStep::kQueueContext;
        return false;
      }
      if (!::SetupCommitFileQueueW(As<HWND>(copy.owner), queue, SetupDefaultQueueCallbackW,
                                   context)) {
        *failed = InfStep::kCommit;
        return false;
      }
      return true;
    }();
    // Closing keeps the failed call's error code.
    const DWORD error = ::GetLastError();
    if (queue != INVALID_HANDLE_VALUE) ::SetupCloseFileQueue(queue);
    ::SetupCloseInfFile(inf);
    ::SetLastError(error);
    return done;
  }

  bool AddDriver(const DriverRecord& driver) override {
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

  bool InstallDriverFromStore(const char16_t* name, const char16_t* environment) override {
    // Looked up at run time: the headers do not declare it, and a spooler
    // without it (Wine's) must not keep the program from loading.
    using InstallFromPackage = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, DWORD);
    const HMODULE winspool = ::GetModuleHandleW(L"winspool.drv");
    const FARPROC found = winspool != nullptr
                              ? ::GetProcAddress(winspool, "InstallPrinterDriverFromPackageW")
                              : nullptr;
    if (found == nullptr) return false;
    const auto install = reinterpret_cast<InstallFromPackage>(reinterpret_cast<void*>(found));
    // Local machine, the driver store's own INF.
    const HRESULT result = install(nullptr, nullptr, Wide(name), Wide(environment), 0);
    if (SUCCEEDED(result)) return true;
    // A Win32 code comes back wrapped; anything else stays the HRESULT.
    ::SetLastError(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                              : static_cast<DWORD>(result));
    return false;
  }

  Handle OpenPrinterToDelete(const char16_t* name) override {
    PRINTER_DEFAULTSW access;
    access.pDatatype = nullptr;
    access.pDevMode = nullptr;
    access.DesiredAccess = PRINTER_ALL_ACCESS;
    HANDLE printer = nullptr;
    if (!::OpenPrinterW(WideField(name), &printer, &access)) return 0;
    return From(printer);
  }

  bool DeletePrinter(Handle printer) override {
    return ::DeletePrinter(As<HANDLE>(printer)) != FALSE;
  }

  bool ClosePrinter(Handle printer) override {
    return ::ClosePrinter(As<HANDLE>(printer)) != FALSE;
  }

  bool DeleteMonitor(const char16_t* environment, const char16_t* name) override {
    return ::DeleteMonitorW(nullptr, WideField(environment), WideField(name)) != FALSE;
  }

  bool AddMonitor(const MonitorRecord& monitor) override {
    MONITOR_INFO_2W info;
    info.pName = WideField(monitor.name);
    info.pEnvironment = WideField(monitor.environment);
    info.pDLLName = WideField(monitor.library);
    return ::AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)) != FALSE;
  }

  bool ProtectMonitorKey() override { return telvor::ProtectMonitorKey(); }

  Handle AddPrinter(const PrinterRecord& printer) override {
    PRINTER_INFO_2W info;
    info.pServerName = nullptr;
    info.pPrinterName = WideField(printer.name);
    info.pShareName = nullptr;
    info.pPortName = WideField(printer.port);
    info.pDriverName = WideField(printer.driver);
    info.pComment = nullptr;
    info.pLocation = nullptr;
    info.pDevMode = nullptr;
    info.pSepFile = nullptr;
    info.pPrintProcessor = WideField(printer.print_processor);
    info.pDatatype = nullptr;
    info.pParameters = nullptr;
    info.pSecurityDescriptor = nullptr;
    info.Attributes = 0;
    info.Priority = 0;
    info.DefaultPriority = 0;
    info.StartTime = 0;
    info.UntilTime = 0;
    info.Status = 0;
    info.cJobs = 0;
    info.AveragePPM = 0;
    return From(::AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
  }

  Handle OpenServiceManager() override {
    return From(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  }

  Handle OpenService(Handle manager, const char16_t* name) override {
    return From(::OpenServiceW(As<SC_HANDLE>(manager), Wide(name),
                               SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));
  }

  bool QueryService(Handle service, ServiceState* state) override {
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(As<SC_HANDLE>(service), &status)) return false;
    Fill(status, state);
    return true;
  }

  bool StopService(Handle service, ServiceState* state) override {
    SERVICE_STATUS status{};
    if (!::ControlService(As<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status)) return false;
    Fill(status, state);
    return true;
  }

  bool StartService(Handle service) override {
    return ::StartServiceW(As<SC_HANDLE>(service), 0, nullptr) != FALSE;
  }

  void CloseService(Handle handle) override { ::CloseServiceHandle(As<SC_HANDLE>(handle)); }

  void PrepareProgressBar() override {
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS;
    ::InitCommonControlsEx(&controls);
  }

  Handle StartThread(ThreadRoutine routine) override {
    const LPTHREAD_START_ROUTINE entry =
        routine == ThreadRoutine::kProgressWindow ? WindowThreadEntry : AnimationThreadEntry;
    return From(::CreateThread(nullptr, 0, entry, nullptr, 0, nullptr));
  }

  void EndThread(std::uint32_t exit_code) override { ::ExitThread(exit_code); }

  void SuspendThread(Handle thread) override { ::SuspendThread(As<HANDLE>(thread)); }

  void ResumeThread(Handle thread) override { ::ResumeThread(As<HANDLE>(thread)); }

  Handle TopWindow() override { return From(::GetTopWindow(nullptr)); }

  void ShowMessage(Handle owner, const char16_t* text, const char16_t* caption,
                   std::uint32_t style) override {
    // The owner (the progress window) may have been closed meanwhile.
    if (::MessageBoxW(As<HWND>(owner), Wide(text), Wide(caption), style) == 0 && owner != 0) {
      ::MessageBoxW(nullptr, Wide(text), Wide(caption), style);
    }
  }

  std::intptr_t RunDialog(const char16_t* template_name, Handle owner) override {
    // The program's own module holds the dialog.
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), Wide(template_name), As<HWND>(owner),
                             DialogEntry, 0);
  }

  void EndDialog(Handle dialog, std::intptr_t result) override {
    ::EndDialog(As<HWND>(dialog), result);
  }

  Handle DialogItem(Handle dialog, std::int32_t id) override {
    return From(::GetDlgItem(As<HWND>(dialog), id));
  }

  void Activate(Handle window) override { ::SetActiveWindow(As<HWND>(window)); }

  void SetBarPosition(Handle bar, std::int32_t position) override {
    ::SendMessageW(As<HWND>(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }

  void SetBarColour(Handle bar, std::uint32_t colour) override {
    ::SendMessageW(As<HWND>(bar), PBM_SETBARCOLOR, 0, static_cast<LPARAM>(colour));
  }
};

}  // namespace

Platform& SystemPlatform() {
  // Never destroyed: the window and animation threads still run while the
  // process exits.
  static WindowsPlatform* const platform = new WindowsPlatform();
  return *platform;
}

}  // namespace telvor::installer
