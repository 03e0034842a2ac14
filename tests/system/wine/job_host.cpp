// A Windows test host for quor.dll: loads the monitor (a copy under another
// file name) the way the spooler does, hands it a MONITORINIT whose registry functions work on a
// real registry key, and prints one job to FX: while a helper thread answers the real setup and
// fax-number dialogs as a person would.
//
//   telvor-job-host SERVER FAX-NUMBER NOTE [SCREENSHOT-DIRECTORY]
//
// With a screenshot directory, each dialog, once filled in, is announced as
// <dir>\hsetup.rect / callnum.rect ("x y width height" on the screen) and the
// host waits for <dir>\hsetup.done / callnum.done before pressing its button.
// The spooler's records first: they choose the layout of <windows.h>.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "job_parts.h"

namespace {

using namespace telvor_wine_job;

const wchar_t kTestKey[] = L"Software\\TelvorTest\\SpoolHost";
const wchar_t kDriverValue[] = L"Driver";
// The monitor is loaded from a copy under another file name, as an
// administrator may install it: its dialogs must still be found.
const wchar_t kRenamedMonitorLibrary[] = L"quor-renamed.dll";
constexpr DWORD kDialogWaitMs = 60000;
constexpr DWORD kScreenshotWaitMs = 30000;
// A job whose dialogs cannot be answered would block for good.
constexpr ULONGLONG kJobTimeLimitMs = 120000;

// What the helper thread does and saw.
struct Answers {
  std::wstring server;
  std::wstring fax_number;
  std::wstring note;
  std::wstring screenshots;  // empty: none
  std::atomic<bool> done{false};
  std::atomic<bool> setup_answered{false};
  std::atomic<bool> fax_number_answered{false};
  std::vector<std::string> messages;  // message boxes the monitor showed
};

// Lets the test script photograph the dialog before it is confirmed.
void OfferScreenshot(const Answers& answers, HWND dialog, const wchar_t* name) {
  if (answers.screenshots.empty()) return;
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(500);
  RECT rect;
  GetWindowRect(dialog, &rect);
  const std::wstring base = answers.screenshots + L"\\" + name;
  const std::wstring done = base + L".done";
  const std::wstring rect_path = base + L".rect";
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%ld %ld %ld %ld\n", rect.left, rect.top,
                                   rect.right - rect.left, rect.bottom - rect.top);
  const std::wstring partial = rect_path + L".new";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
  MoveFileExW(partial.c_str(), rect_path.c_str(), MOVEFILE_REPLACE_EXISTING);
  for (DWORD waited = 0; waited < kScreenshotWaitMs && !FileExists(done); waited += 100) {
    Sleep(100);
  }
  Check(FileExists(done), "screenshot of " + Narrow(name) + " taken");
}

void Fill(HWND dialog, int id, const std::wstring& text) {
  SetDlgItemTextW(dialog, id, text.c_str());
}

BOOL CALLBACK FindMessageText(HWND child, LPARAM found) {
  wchar_t class_name[16] = {};
  GetClassNameW(child, class_name, 16);
  if (lstrcmpiW(class_name, L"Static") == 0) {
    wchar_t text[256] = {};
    GetWindowTextW(child, text, 256);
    if (text[0]) *reinterpret_cast<std::wstring*>(found) = text;
  }
  return TRUE;
}

DWORD WINAPI AnswerDialogs(LPVOID parameter) {
  auto& answers = *static_cast<Answers*>(parameter);
  const ULONGLONG start = GetTickCount64();
  while (!answers.done) {
    Sleep(100);
    if (GetTickCount64() - start > kJobTimeLimitMs) {
      Check(false, "the job ended in time");
      ExitProcess(1);
    }
    HWND setup = FindWindowW(nullptr, kSetupCaption);
    if (setup && IsWindowVisible(setup)) {
      Fill(setup, 1000, answers.server);
      Fill(setup, 1002, kSetupUser);
      Fill(setup, 1003, kSetupPassword);
      Fill(setup, 1004, kSetupMail);
      Fill(setup, 1009, kSetupAttempts);
      OfferScreenshot(answers, setup, L"hsetup");
      PostMessageW(setup, WM_COMMAND, IDOK, 0);
      answers.setup_answered = true;
      while (IsWindow(setup) && !answers.done) Sleep(50);
      continue;
    }
    HWND fax = FindWindowW(nullptr, kFaxNumberCaption);
    if (fax && IsWindowVisible(fax)) {
      Fill(fax, 1000, answers.fax_number);
      Fill(fax, 1002, kDialAttempts);
      Fill(fax, 1003, answers.note);
      OfferScreenshot(answers, fax, L"callnum");
      PostMessageW(fax, WM_COMMAND, IDOK, 0);
      answers.fax_number_answered = true;
      while (IsWindow(fax) && !answers.done) Sleep(50);
      continue;
    }
    for (const wchar_t* caption : kMessageCaptions) {
      HWND box = FindWindowW(nullptr, caption);
      if (!box || !IsWindowVisible(box)) continue;
      std::wstring text;
      EnumChildWindows(box, FindMessageText, reinterpret_cast<LPARAM>(&text));
      answers.messages.push_back(Narrow(caption) + ": " + Narrow(text));
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      while (IsWindow(box) && !answers.done) Sleep(50);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: telvor-job-host SERVER FAX-NUMBER NOTE [SCREENSHOT-DIRECTORY]\n");
    return 2;
  }
  static Answers answers;
  answers.server = Widen(argv[1]);
  answers.fax_number = Widen(argv[2]);
  answers.note = Widen(argv[3]);
  if (argc > 4) answers.screenshots = Widen(argv[4]);

  // The monitor's key, holding only what the spooler writes at registration.
  RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
  HKEY key = nullptr;
  Check(RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS &&
            SetText(key, kDriverValue, kMonitorLibrary),
        "monitor key with its one Driver value");
  Check(RecordPrinter(), "printer \"Telvor Printer\" on FX: recorded for Wine's spooler");

  // A TEMP of the job's own, so that what the job leaves there shows.
  wchar_t temp_root[MAX_PATH];
  GetTempPathW(MAX_PATH, temp_root);
  const std::wstring temp =
      std::wstring(temp_root) + L"telvor-job-host-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(temp.c_str(), nullptr);
  SetEnvironmentVariableW(L"TEMP", temp.c_str());

  wchar_t host_path[MAX_PATH];
  GetModuleFileNameW(nullptr, host_path, MAX_PATH);
  std::wstring here(host_path);
  here.resize(here.rfind(L'\\') + 1);
  const std::wstring renamed = here + kRenamedMonitorLibrary;
  Check(CopyFileW((here + kMonitorLibrary).c_str(), renamed.c_str(), FALSE) != 0,
        "quor.dll copied to quor-renamed.dll");
  HMODULE monitor = LoadLibraryW(renamed.c_str());
  Check(monitor != nullptr, "quor-renamed.dll loaded");
  auto initialize = monitor ? reinterpret_cast<InitializePrintMonitor2Function>(
                                  reinterpret_cast<void*>(GetProcAddress(monitor, kEntryPoint)))
                            : nullptr;
  Check(initialize != nullptr, "InitializePrintMonitor2 found");
  if (!initialize) return 1;

  static telvor::spoolhost::MonitorInitRecords records;
  telvor::spoolhost::FillMonitorInit(key, QueryInfoKey, SetValue, EnumValue, &records);
  HANDLE monitor_handle = nullptr;
  LPMONITOR2 table = initialize(&records.init, &monitor_handle);
  Check(table != nullptr, "operations table");
  if (!table) return 1;

  telvor::spoolhost::PortEntry port;
  std::string error;
  Check(telvor::spoolhost::FindPort(*table, monitor_handle, &port, &error),
        "EnumPorts lists FX: " + error);

  HANDLE helper = CreateThread(nullptr, 0, AnswerDialogs, &answers, 0, nullptr);
  MemorySource source;
  telvor::spoolhost::JobRequest request;
  request.printer = reinterpret_cast<const char16_t*>(kPrinterName);
  request.job_id = 1;
  request.document = u"wine-test.ps";
  const auto result = telvor::spoolhost::PrintJob(*table, monitor_handle, source, request, &error);
  answers.done = true;
  WaitForSingleObject(helper, kDialogWaitMs);
  CloseHandle(helper);

  Check(result == telvor::spoolhost::JobResult::kHandedOver, "job handed over " + error);
  Check(answers.setup_answered, "setup dialog \"Telvor Printer Setup\" answered");
  Check(answers.fax_number_answered, "fax-number dialog \"Telvor Printer\" answered");
  for (const std::string& message : answers.messages) Check(false, "message box " + message);

  DWORD values = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  Check(values == 6, "the key holds six values (" + std::to_string(values) + ")");
  Check(GetText(key, L"HylaFAXServerIp") == answers.server, "HylaFAXServerIp stored");
  Check(GetText(key, L"User") == kSetupUser, "User stored");
  Check(GetText(key, L"Attempts") == kSetupAttempts, "Attempts stored");

  const auto left = TempFiles(temp);
  Check(left.size() == 1 && left[0] == L"fax777.tmp",
        "only the placeholder fax777.tmp is left in TEMP (" + std::to_string(left.size()) +
            " files)");

  for (const auto& name : left) DeleteFileW((temp + L"\\" + name).c_str());
  RemoveDirectoryW(temp.c_str());
  RegCloseKey(key);
  RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
  ForgetPrinter();
  FreeLibrary(monitor);
  DeleteFileW(renamed.c_str());
  // Run inside Wine's desktop (explorer /desktop) the exit status is lost:
  // the last line tells.
  if (g_failures > 0) {
    std::printf("%d check(s) failed\n", g_failures);
  } else {
    std::printf("all checks passed\n");
  }
  std::fflush(stdout);
  return g_failures == 0 ? 0 : 1;
}
