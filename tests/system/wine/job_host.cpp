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
// Before that, each dialog is seen refusing what the number rule refuses:
// default attempts "0"; letters typed or pasted into the number, and a
// number set with letters.
// The spooler's records first: they choose the layout of <windows.h>.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "job_parts.h"
#include "quor/forms.h"
#include "telvor_common/names.h"
// After <windows.h>, which job_parts.h brings in.
#include <sddl.h>

namespace {

using namespace telvor_wine_job;

const wchar_t kTestKey[] = L"Software\\TelvorTest\\SpoolHost";
const wchar_t kDriverValue[] = L"Driver";
const wchar_t kSetupModem[] = L"ttyIAX0";
// The monitor is loaded from a copy under another file name, as an
// administrator may install it: its dialogs must still be found.
const wchar_t kRenamedMonitorLibrary[] = L"quor-renamed.dll";
constexpr DWORD kDialogWaitMs = 60000;
constexpr DWORD kScreenshotWaitMs = 30000;
// A job whose dialogs cannot be answered would block for good.
constexpr ULONGLONG kJobTimeLimitMs = 120000;

// The monitor's key where the spooler keeps it: the monitor gives it its
// access list after storing the setup.
std::wstring MonitorKeyPath() {
  return std::wstring(reinterpret_cast<const wchar_t*>(telvor::kMonitorsKeyPath)) +
         reinterpret_cast<const wchar_t*>(telvor::kMonitorName);
}

// The key's access list as text, "" when it cannot be read.
std::wstring KeyAccess(HKEY key) {
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> descriptor(size);
  LPWSTR text = nullptr;
  if (size == 0 ||
      RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size) !=
          ERROR_SUCCESS ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"";
  }
  std::wstring access(text);
  LocalFree(text);
  return access;
}

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

// Whether `done` came true within five seconds.
template <typename Condition>
bool WaitUntil(Condition done) {
  for (int i = 0; i < 50; ++i) {
    if (done()) return true;
    Sleep(100);
  }
  return false;
}

std::wstring ControlText(HWND dialog, int id) {
  wchar_t text[256] = {};
  GetDlgItemTextW(dialog, id, text, 256);
  return text;
}

// A refusal is a message box over the dialog with the dialog's caption:
// its text, once confirmed. The dialog must then be open with the refused
// field focused.
std::wstring ConfirmRefusal(HWND dialog, const wchar_t* caption, int field) {
  HWND box = nullptr;
  WaitUntil([&] {
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, nullptr, caption)) != nullptr;) {
      if (GetWindow(w, GW_OWNER) == dialog && IsWindowVisible(w)) box = w;
    }
    return box != nullptr;
  });
  if (!box) return L"(no message box)";
  std::wstring text;
  EnumChildWindows(box, FindMessageText, reinterpret_cast<LPARAM>(&text));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  Check(WaitUntil([&] {
          GUITHREADINFO gui{};
          gui.cbSize = sizeof gui;
          GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
          return !IsWindow(box) && IsWindowVisible(dialog) &&
                 gui.hwndFocus == GetDlgItem(dialog, field);
        }),
        "the refusal confirmed, " + Narrow(caption) + " stays open on the refused field");
  return text;
}

void ExpectRefused(HWND dialog, const wchar_t* caption, int field, const std::wstring& reason) {
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  const std::wstring text = ConfirmRefusal(dialog, caption, field);
  Check(text.find(reason) != std::wstring::npos, "refused: " + Narrow(text));
}

void PutOnClipboard(const std::wstring& text) {
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  const bool put = OpenClipboard(nullptr) && EmptyClipboard() &&
                   SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  Check(put, "\"" + Narrow(text) + "\" on the clipboard");
}

// Characters no number holds do not get in, typed one by one or pasted;
// OK with them set into the field anyway is refused, with the reason. Then
// the number the job is sent to.
void AnswerFaxNumber(const Answers& answers, HWND fax) {
  const HWND number = GetDlgItem(fax, QUOR_ID_FAX_NUMBER);
  for (const wchar_t c : std::wstring(L"55a5-X9")) PostMessageW(number, WM_CHAR, c, 0);
  WaitUntil([&] {
    const std::wstring typed = ControlText(fax, QUOR_ID_FAX_NUMBER);
    return !typed.empty() && typed.back() == L'9';
  });
  Check(ControlText(fax, QUOR_ID_FAX_NUMBER) == L"555-9",
        "typed \"55a5-X9\", the number field holds \"" +
            Narrow(ControlText(fax, QUOR_ID_FAX_NUMBER)) + "\"");
  PutOnClipboard(L"Fax 030 5551234");
  PostMessageW(number, WM_PASTE, 0, 0);
  const std::wstring pasted = ConfirmRefusal(fax, kFaxNumberCaption, QUOR_ID_FAX_NUMBER);
  Check(pasted.find(L"holds \"F\"") != std::wstring::npos &&
            ControlText(fax, QUOR_ID_FAX_NUMBER) == L"555-9",
        "a paste with letters refused whole: " + Narrow(pasted));
  Fill(fax, QUOR_ID_FAX_NUMBER, L"555-CALL-NOW");
  Fill(fax, QUOR_ID_ATTEMPTS, kDialAttempts);
  Fill(fax, QUOR_ID_INFO, answers.note);
  ExpectRefused(fax, kFaxNumberCaption, QUOR_ID_FAX_NUMBER, L"\"555-CALL-NOW\" holds \"C\"");
  Fill(fax, QUOR_ID_FAX_NUMBER, answers.fax_number);
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
      Fill(setup, QUOR_ID_SERVER_IP, answers.server);
      Fill(setup, QUOR_ID_USER, kSetupUser);
      Fill(setup, QUOR_ID_PASSWORD, kSetupPassword);
      Fill(setup, QUOR_ID_MAIL, kSetupMail);
      Fill(setup, QUOR_ID_MODEM, kSetupModem);
      Fill(setup, QUOR_ID_DEFAULT_ATTEMPTS, L"0");
      ExpectRefused(setup, kSetupCaption, QUOR_ID_DEFAULT_ATTEMPTS, L"not \"0\"");
      Fill(setup, QUOR_ID_DEFAULT_ATTEMPTS, kSetupAttempts);
      OfferScreenshot(answers, setup, L"hsetup");
      PostMessageW(setup, WM_COMMAND, IDOK, 0);
      answers.setup_answered = true;
      while (IsWindow(setup) && !answers.done) Sleep(50);
      continue;
    }
    HWND fax = FindWindowW(nullptr, kFaxNumberCaption);
    if (fax && IsWindowVisible(fax)) {
      AnswerFaxNumber(answers, fax);
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
  HKEY monitor_key = nullptr;
  DWORD disposition = 0;
  Check(RegCreateKeyExW(HKEY_LOCAL_MACHINE, MonitorKeyPath().c_str(), 0, nullptr, 0,
                        KEY_READ | READ_CONTROL, nullptr, &monitor_key,
                        &disposition) == ERROR_SUCCESS,
        "the monitor's key under Print\\Monitors");

  // A ProgramData of the job's own, so that what the job leaves in the
  // monitor's folder there shows.
  wchar_t temp_root[MAX_PATH];
  GetTempPathW(MAX_PATH, temp_root);
  const std::wstring temp =
      std::wstring(temp_root) + L"telvor-job-host-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(temp.c_str(), nullptr);
  SetEnvironmentVariableW(L"ProgramData", temp.c_str());
  const std::wstring spool = SpoolFolderIn(temp);

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
  Check(values == 7, "the key holds seven values (" + std::to_string(values) + ")");
  Check(GetText(key, L"HylaFAXServerIp") == answers.server, "HylaFAXServerIp stored");
  Check(GetText(key, L"User") == kSetupUser, "User stored");
  Check(GetText(key, L"Attempts") == kSetupAttempts, "Attempts stored");
  Check(GetText(key, L"Modem") == kSetupModem, "Modem stored");

  const std::wstring access = KeyAccess(monitor_key);
  Check(access == reinterpret_cast<const wchar_t*>(telvor::kMonitorKeyAccess),
        "the monitor's key is for SYSTEM and Administrators alone (" +
            std::string(access.begin(), access.end()) + ")");
  RegCloseKey(monitor_key);
  if (disposition == REG_CREATED_NEW_KEY) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, MonitorKeyPath().c_str());
  }

  const auto left = TempFiles(spool);
  Check(left == std::vector<std::wstring>{L"fax777.tmp", L"telvor.log"},
        "only the placeholder fax777.tmp and the client's telvor.log are left in the monitor's "
        "folder (" +
            std::to_string(left.size()) + " files)");

  RemoveSpoolFolder(temp, left);
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
