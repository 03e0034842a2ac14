// A whole job through quor.dll inside a service process under Wine, where
// the monitor lives as inside the print spooler: its dialogs must come up in
// the separate prompt program on the visible desktop, and this program, as
// the person at the screen, answers them there.
//
//   telvor-service-job SERVER FAX-NUMBER NOTE WORK-DIRECTORY
//       registers itself as a service and runs one job through it per case:
//       "answer" (the setup and the fax number are answered), "cancel",
//       "kill" (the prompt program is killed) and "timeout" (nobody answers);
//       then changes the stored settings through quorprompt.exe /settings;
//       prints what it saw and the service's checks, and "all checks passed"
//   telvor-service-job --service CASE SERVER WORK-DIRECTORY
//       the service's side, started by the service manager
#include "job_parts.h"
// clang-format off
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace telvor_wine_job;

const wchar_t kServiceName[] = L"TelvorJobTest";
const wchar_t kTestKey[] = L"Software\\TelvorTest\\ServiceJob";
const wchar_t kPromptProgram[] = L"quorprompt.exe";
// The prompt's time limit in the service: long enough to answer, and short
// where nobody does.
const wchar_t kAnswerSeconds[] = L"60";
const wchar_t kTimeoutSeconds[] = L"3";
constexpr ULONGLONG kCaseTimeLimitMs = 90000;
const wchar_t* const kCases[] = {L"answer", L"cancel", L"kill", L"timeout"};

std::wstring HereDirectory() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring here(path);
  here.resize(here.rfind(L'\\') + 1);
  return here;
}

// --- The service's side ---------------------------------------------------

struct ServiceCase {
  std::wstring name;
  std::wstring server;
  std::wstring work;
};
ServiceCase g_case;
SERVICE_STATUS_HANDLE g_status = nullptr;

void SetState(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD, DWORD, LPVOID, LPVOID) { return NO_ERROR; }

bool VisibleWindowStation() {
  USEROBJECTFLAGS flags{};
  GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags), nullptr);
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void RunServiceJob() {
  const std::wstring& name = g_case.name;
  const bool answered = name == L"answer";
  const bool sent_or_cancelled = answered || name == L"cancel";
  Check(!VisibleWindowStation(), "the service's window station is not visible");

  // The monitor's key: only the spooler's value before the first setup; set
  // up already in the other cases.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey);
  HKEY key = nullptr;
  bool ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) == ERROR_SUCCESS &&
            SetText(key, L"Driver", kMonitorLibrary);
  if (!answered) {
    ok = ok && SetText(key, L"HylaFAXServerIp", g_case.server) &&
         SetText(key, L"User", kSetupUser) && SetText(key, L"Password", kSetupPassword) &&
         SetText(key, L"MailAddress", kSetupMail) && SetText(key, L"Attempts", kSetupAttempts);
  }
  Check(ok, "the monitor's key prepared");
  Check(RecordPrinter(), "printer recorded for Wine's spooler");
  const std::wstring temp = g_case.work + L"\\" + name + L"-temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  SetEnvironmentVariableW(L"ProgramData", temp.c_str());
  const std::wstring spool = SpoolFolderIn(temp);
  SetEnvironmentVariableW(L"TELVOR_PROMPT_SECONDS",
                          name == L"timeout" ? kTimeoutSeconds : kAnswerSeconds);

  HMODULE monitor = LoadLibraryW((HereDirectory() + kMonitorLibrary).c_str());
  auto initialize = monitor ? reinterpret_cast<InitializePrintMonitor2Function>(
                                  reinterpret_cast<void*>(GetProcAddress(monitor, kEntryPoint)))
                            : nullptr;
  Check(initialize != nullptr, "quor.dll loaded in the service");
  if (!initialize) return;
  static telvor::spoolhost::MonitorInitRecords records;
  telvor::spoolhost::FillMonitorInit(key, QueryInfoKey, SetValue, EnumValue, &records);
  HANDLE monitor_handle = nullptr;
  LPMONITOR2 table = initialize(&records.init, &monitor_handle);
  telvor::spoolhost::PortEntry port;
  std::string error;
  Check(table && telvor::spoolhost::FindPort(*table, monitor_handle, &port, &error),
        "EnumPorts lists FX: " + error);
  if (!table) return;

  MemorySource source;
  telvor::spoolhost::JobRequest request;
  request.printer = reinterpret_cast<const char16_t*>(kPrinterName);
  request.job_id = 1;
  request.document = u"service-test.ps";
  const auto result = telvor::spoolhost::PrintJob(*table, monitor_handle, source, request, &error);
  if (sent_or_cancelled) {
    Check(result == telvor::spoolhost::JobResult::kHandedOver, "the job ended well " + error);
  } else {
    Check(result == telvor::spoolhost::JobResult::kNotSent,
          "the job ended as not sent, its prompt unanswered " + error);
  }
  if (answered) {
    Check(GetText(key, L"HylaFAXServerIp") == g_case.server && GetText(key, L"User") == kSetupUser,
          "the setup answered in the prompt is stored");
  }

  const auto left = TempFiles(spool);
  std::vector<std::wstring> spool_files;
  for (const auto& file : left) {
    if (file != L"fax777.tmp" && file != L"telvor.log") spool_files.push_back(file);
  }
  if (sent_or_cancelled) {
    Check(spool_files.empty(), "no spool file is left");
  } else {
    Check(spool_files.size() == 1,
          "the spool file is kept (" + std::to_string(spool_files.size()) + " left)");
  }
  RemoveSpoolFolder(temp, left);
  RegCloseKey(key);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey);
  ForgetPrinter();
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_status = RegisterServiceCtrlHandlerExW(kServiceName, Control, nullptr);
  SetState(SERVICE_RUNNING);
  const std::wstring report = g_case.work + L"\\" + g_case.name + L".log";
  g_report = _wfopen(report.c_str(), L"w");
  if (g_report) {
    RunServiceJob();
    std::fprintf(g_report,
                 g_failures == 0 ? "service: all checks passed\n" : "service: %d check(s) failed\n",
                 g_failures);
    std::fclose(g_report);
  }
  SetState(SERVICE_STOPPED);
}

int RunAsService(wchar_t** arguments) {
  g_case = ServiceCase{arguments[2], arguments[3], arguments[4]};
  wchar_t name[] = L"TelvorJobTest";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

// --- The test's side: the person at the screen ------------------------------

std::wstring ProcessImage(DWORD process_id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (!process) return L"";
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process, 0, path, &size)) path[0] = 0;
  CloseHandle(process);
  return path;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() &&
         lstrcmpiW(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

void Fill(HWND dialog, int id, const std::wstring& text) {
  SetDlgItemTextW(dialog, id, text.c_str());
}

DWORD ServiceProcess(SC_HANDLE service, DWORD* state) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                            sizeof(status), &needed)) {
    *state = SERVICE_STOPPED;
    return 0;
  }
  *state = status.dwCurrentState;
  return status.dwProcessId;
}

// A dialog of the monitor's, if one is up: checked to be the prompt
// program's, not the service's.
HWND PromptWindow(const wchar_t* caption, DWORD service_process, const char* what) {
  HWND window = FindWindowW(nullptr, caption);
  if (!window || !IsWindowVisible(window)) return nullptr;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  const std::wstring image = ProcessImage(owner);
  Check(owner != service_process && EndsWith(image, kPromptProgram),
        std::string(what) + " shown by the separate prompt program (" + Narrow(image) + ")");
  return window;
}

void RunCase(SC_HANDLE manager, const std::wstring& name, const std::wstring& server,
             const std::wstring& number, const std::wstring& note, const std::wstring& work) {
  std::printf("-- case %s\n", Narrow(name).c_str());
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring command =
      L"\"" + std::wstring(self) + L"\" --service " + name + L" " + server + L" \"" + work + L"\"";
  SC_HANDLE service =
      CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  Check(service != nullptr, "service registered");
  if (!service) return;
  Check(StartServiceW(service, 0, nullptr) != FALSE, "service started");

  bool setup_seen = false;
  bool fax_number_seen = false;
  DWORD state = SERVICE_START_PENDING;
  const ULONGLONG start = GetTickCount64();
  HWND unanswered = nullptr;
  while (GetTickCount64() - start < kCaseTimeLimitMs) {
    Sleep(100);
    const DWORD service_process = ServiceProcess(service, &state);
    if (state == SERVICE_STOPPED) break;
    if (HWND setup =
            setup_seen ? nullptr : PromptWindow(kSetupCaption, service_process, "HSETUP")) {
      setup_seen = true;
      Fill(setup, 1000, server);
      Fill(setup, 1002, kSetupUser);
      Fill(setup, 1003, kSetupPassword);
      Fill(setup, 1004, kSetupMail);
      Fill(setup, 1009, kSetupAttempts);
      PostMessageW(setup, WM_COMMAND, IDOK, 0);
      continue;
    }
    HWND fax =
        fax_number_seen ? nullptr : PromptWindow(kFaxNumberCaption, service_process, "CALLNUM");
    if (fax) {
      fax_number_seen = true;
      if (name == L"answer") {
        Fill(fax, 1000, number);
        Fill(fax, 1002, kDialAttempts);
        Fill(fax, 1003, note);
        PostMessageW(fax, WM_COMMAND, IDOK, 0);
      } else if (name == L"cancel") {
        PostMessageW(fax, WM_COMMAND, IDCANCEL, 0);
      } else if (name == L"kill") {
        DWORD owner = 0;
        GetWindowThreadProcessId(fax, &owner);
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, owner);
        Check(process && TerminateProcess(process, 1), "prompt program killed");
        if (process) CloseHandle(process);
      } else {
        unanswered = fax;
      }
    }
    for (const wchar_t* caption : kMessageCaptions) {
      HWND box = FindWindowW(nullptr, caption);
      if (!box || !IsWindowVisible(box)) continue;
      std::printf("note: a message box \"%s\" came up on the desktop\n", Narrow(caption).c_str());
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  }
  Check(state == SERVICE_STOPPED, "the service's job ended in time");
  Check(setup_seen == (name == L"answer"), "HSETUP asked for exactly at first use");
  Check(fax_number_seen, "CALLNUM came up in the prompt program");
  if (unanswered) Check(!IsWindow(unanswered), "the unanswered prompt was ended at its time limit");

  std::FILE* report = _wfopen((work + L"\\" + name + L".log").c_str(), L"r");
  Check(report != nullptr, "the service's report");
  bool passed = false;
  if (report) {
    char line[512];
    while (std::fgets(line, sizeof line, report)) {
      std::printf("  %s", line);
      passed = passed || std::string(line) == "service: all checks passed\n";
    }
    std::fclose(report);
  }
  Check(passed, "the service's checks");
  DeleteService(service);
  CloseServiceHandle(service);
}

// The administrator's switch: quorprompt.exe /settings shows the setup
// filled with the stored values and stores what is confirmed; a modem
// emptied there is stored empty, not left as it was.
void ChangeSettingsLater(const std::wstring& server) {
  std::printf("-- quorprompt.exe /settings\n");
  const wchar_t kMonitorKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\TelvorMon";
  const std::wstring changed = L"127.0.9.9";
  HKEY key = nullptr;
  DWORD disposition = 0;
  bool ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMonitorKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, &disposition) == ERROR_SUCCESS;
  ok = ok && SetText(key, L"HylaFAXServerIp", server) && SetText(key, L"User", kSetupUser) &&
       SetText(key, L"Password", kSetupPassword) && SetText(key, L"MailAddress", kSetupMail) &&
       SetText(key, L"Attempts", kSetupAttempts) && SetText(key, L"Modem", L"ttyIAX0");
  Check(ok, "settings stored in the monitor's key");
  std::wstring command = L"\"" + HereDirectory() + kPromptProgram + L"\" /settings";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  Check(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process) != FALSE,
        "quorprompt.exe /settings started");
  HWND setup = nullptr;
  for (int i = 0; i < 300 && !setup; ++i) {
    Sleep(100);
    setup = FindWindowW(nullptr, kSetupCaption);
    if (setup && !IsWindowVisible(setup)) setup = nullptr;
  }
  Check(setup != nullptr, "HSETUP shown");
  if (setup) {
    wchar_t text[128] = {};
    GetDlgItemTextW(setup, 1000, text, 128);
    std::wstring shown = text;
    GetDlgItemTextW(setup, 1004, text, 128);
    shown += std::wstring(L" ") + text;
    GetDlgItemTextW(setup, 1009, text, 128);
    shown += std::wstring(L" ") + text;
    GetDlgItemTextW(setup, 1011, text, 128);
    shown += std::wstring(L" ") + text;
    Check(shown == server + L" " + kSetupMail + L" " + kSetupAttempts + L" ttyIAX0",
          "HSETUP filled with the stored values (" + Narrow(shown) + ")");
    Fill(setup, 1000, changed);
    Fill(setup, 1011, L"");
    PostMessageW(setup, WM_COMMAND, IDOK, 0);
  }
  Check(process.hProcess && WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0,
        "quorprompt.exe /settings ended");
  DWORD status = 1;
  if (process.hProcess) GetExitCodeProcess(process.hProcess, &status);
  Check(status == 0, "quorprompt.exe /settings exit status 0");
  Check(GetText(key, L"HylaFAXServerIp") == changed && GetText(key, L"User") == kSetupUser &&
            GetText(key, L"Modem").empty(),
        "the changed server and the emptied modem stored beside the other values");
  if (process.hProcess) CloseHandle(process.hProcess);
  if (process.hThread) CloseHandle(process.hThread);
  RegCloseKey(key);
  // A key this test made is not left for Wine's spooler to find.
  if (disposition == REG_CREATED_NEW_KEY) RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMonitorKey);
}

// What the event log shows for an entry of quor.dll's: the text as given.
void EventMessage() {
  HMODULE library = LoadLibraryExW((HereDirectory() + kMonitorLibrary).c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
  DWORD_PTR texts[] = {reinterpret_cast<DWORD_PTR>(L"SendFax error 5\n")};
  wchar_t shown[128] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, library, 1, 0, shown,
                 128, reinterpret_cast<va_list*>(texts));
  Check(std::wstring(shown) == L"SendFax error 5\n",
        "quor.dll's event message 1 shows the text as given");
  if (library) FreeLibrary(library);
}

int RunCases(wchar_t** arguments) {
  const std::wstring server = arguments[1];
  const std::wstring number = arguments[2];
  const std::wstring note = arguments[3];
  const std::wstring work = arguments[4];
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  Check(manager != nullptr, "service manager opened");
  if (!manager) return 1;
  // Left by an interrupted run.
  if (SC_HANDLE stale = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS)) {
    SERVICE_STATUS status;
    ControlService(stale, SERVICE_CONTROL_STOP, &status);
    DeleteService(stale);
    CloseServiceHandle(stale);
  }
  for (const wchar_t* name : kCases) RunCase(manager, name, server, number, note, work);
  CloseServiceHandle(manager);
  ChangeSettingsLater(server);
  EventMessage();
  std::printf(
      "not shown under Wine: the session of the job's owner (every process is in "
      "session 1), messages sent to a session (WTSSendMessageW) and the event log; "
      "these are checked through the monitor's platform fakes\n");
  if (g_failures > 0) {
    std::printf("%d check(s) failed\n", g_failures);
  } else {
    std::printf("all checks passed\n");
  }
  std::fflush(stdout);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments && count == 5 && std::wstring(arguments[1]) == L"--service") {
    return RunAsService(arguments);
  }
  if (!arguments || count != 5) {
    std::printf("usage: telvor-service-job SERVER FAX-NUMBER NOTE WORK-DIRECTORY\n");
    return 2;
  }
  return RunCases(arguments);
}
