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
#include "telvor_common/data_folder_windows.h"
#include "telvor_common/monitor_key_windows.h"
#include "telvor_common/names.h"
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

Text MonitorKeyPath() { return Text(kMonitorsKeyPath) + kMonitorName; }

// The registry answers with the code instead of leaving it.
bool Registry(LSTATUS status) {
  ::SetLastError(static_cast<DWORD>(status));
  return status == ERROR_SUCCESS;
}

bool Absent(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The monitor's folder under ProgramData, made when missing; empty on
// failure, with the last error set.
std::wstring OwnFolder() {
  wchar_t data[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(kProgramDataVariable, data, MAX_PATH);
  if (length == 0) return {};
  if (length >= MAX_PATH) {
    ::SetLastError(win_error::kFilenameExcedRange);
    return {};
  }
  const std::wstring own = std::wstring(data, length) + L'\\' + Wide(kDataFolderName);
  if (!MakeOwnFolder(own)) return {};
  return own;
}

bool ReadFileAt(const std::wstring& path, std::string& content) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  content.clear();
  char area[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ::ReadFile(file, area, sizeof area, &got, nullptr) != FALSE) && got > 0) {
    content.append(area, got);
  }
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  ::SetLastError(error);
  return ok;
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

  bool ReadMonitorValue(const char16_t* name, Text& value, bool& present) override {
    present = false;
    HKEY key = nullptr;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(MonitorKeyPath().c_str()), 0,
                                     KEY_QUERY_VALUE, &key);
    if (Absent(static_cast<DWORD>(status))) return true;
    if (status != ERROR_SUCCESS) return Registry(status);
    DWORD type = 0;
    DWORD bytes = 0;
    status = ::RegQueryValueExW(key, Wide(name), nullptr, &type, nullptr, &bytes);
    if (status == ERROR_SUCCESS) {
      std::wstring area(bytes / sizeof(wchar_t) + 1, L'\0');
      status = ::RegQueryValueExW(key, Wide(name), nullptr, &type,
                                  reinterpret_cast<BYTE*>(&area[0]), &bytes);
      if (status == ERROR_SUCCESS) {
        area.resize(bytes / sizeof(wchar_t));
        while (!area.empty() && area.back() == L'\0') area.pop_back();
        value.assign(Portable(area.c_str()), area.size());
        present = true;
      }
    }
    ::RegCloseKey(key);
    if (Absent(static_cast<DWORD>(status))) return true;
    return Registry(status);
  }

  bool WriteMonitorValue(const char16_t* name, const char16_t* value) override {
    HKEY key = nullptr;
    LSTATUS status =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(MonitorKeyPath().c_str()), 0, KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
      const DWORD bytes = static_cast<DWORD>((TextLength(value) + 1) * sizeof(char16_t));
      status =
          ::RegSetValueExW(key, Wide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
      ::RegCloseKey(key);
    }
    return Registry(status);
  }

  bool DeleteMonitorKey() override {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(MonitorKeyPath().c_str()));
    return Absent(static_cast<DWORD>(status)) || Registry(status);
  }

  bool RemoveFile(const char16_t* path) override {
    if (::DeleteFileW(Wide(path)) != FALSE || Absent(::GetLastError())) return true;
    // A file in use (a library the spooler still holds, the uninstalling
    // program itself) goes at the next start of Windows.
    const DWORD error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
    return ::MoveFileExW(Wide(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
  }

  bool WriteUninstallEntry(const UninstallEntry& entry) override {
    HKEY key = nullptr;
    LSTATUS status =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(kUninstallKeyPath), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return Registry(status);
    const struct {
      const wchar_t* name;
      const char16_t* text;
    } texts[] = {{L"DisplayName", entry.display_name},
                 {L"DisplayVersion", entry.display_version},
                 {L"Publisher", entry.publisher},
                 {L"UninstallString", entry.uninstall_command},
                 {L"QuietUninstallString", entry.quiet_uninstall_command}};
    for (const auto& value : texts) {
      if (status != ERROR_SUCCESS) break;
      status =
          ::RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text),
                           static_cast<DWORD>((TextLength(value.text) + 1) * sizeof(char16_t)));
    }
    // The installer itself changes or repairs nothing: no such buttons.
    const DWORD one = 1;
    for (const wchar_t* name : {L"NoModify", L"NoRepair"}) {
      if (status != ERROR_SUCCESS) break;
      status = ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                                sizeof one);
    }
    ::RegCloseKey(key);
    return Registry(status);
  }

  bool RemoveUninstallEntry() override {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(kUninstallKeyPath));
    return Absent(static_cast<DWORD>(status)) || Registry(status);
  }

  bool UnregisterEventLogSource(const char16_t* source) override {
    const Text path = Text(kApplicationLogSources) + source;
    const LSTATUS status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(path.c_str()));
    return Absent(static_cast<DWORD>(status)) || Registry(status);
  }

  bool ReadWholeFile(const char16_t* path, std::string& content) override {
    return ReadFileAt(Wide(path), content);
  }

  bool WriteOwnFile(const char16_t* name, const std::string& content, bool append) override {
    const std::wstring folder = OwnFolder();
    if (folder.empty()) return false;
    // The file takes the folder's access list.
    const HANDLE file = ::CreateFileW(
        (folder + L'\\' + Wide(name)).c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, 0,
        nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written,
                          nullptr) != FALSE &&
              written == content.size();
    ok = ::FlushFileBuffers(file) != FALSE && ok;
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    ::SetLastError(error);
    return ok;
  }

  bool ReadOwnFile(const char16_t* name, std::string& content) override {
    const std::wstring folder = OwnFolder();
    return !folder.empty() && ReadFileAt(folder + L'\\' + Wide(name), content);
  }

  bool RemoveOwnFile(const char16_t* name) override {
    const std::wstring folder = OwnFolder();
    if (folder.empty()) return false;
    return ::DeleteFileW((folder + L'\\' + Wide(name)).c_str()) != FALSE ||
           Absent(::GetLastError());
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
