// Runs a program under watch inside a Wine prefix and reports what a person
// at the screen would have seen, one line each on standard output:
//
//   window: <caption> at <x> <y> <width> <height>   a dialog of the program appeared
//   owner: none | <caption> (process <id>)           that dialog's owner window
//   box: <caption>: <text>[ (icon)]                  a message box, confirmed with OK
//   place: <above|below> the progress window, topmost <yes|no>, foreground <yes|no>
//                                                    where that box lay when seen
//   elevation: full | limited | default              the program's token
//   manifest: <requestedExecutionLevel level>        what the program's manifest asks
//   other window: enabled | disabled                 our own window, after the program
//   prompt: <caption>: <text>                        any other dialog, cancelled
//   spooler: running (process <id>) | stopped        the "Spooler" service changed
//   exit: <code>                                     the program's full exit code
//
// Texts are UTF-8 with backslash, CR and LF written as \\, \r and \n. The exit
// code is printed because a POSIX parent only sees its low 8 bits.
//
// usage: run_watched.exe [--start-spooler] [--other-window] PROGRAM [ARGUMENT...]
//   --start-spooler     start "Spooler" first, as on a Windows machine, where it runs
//   --other-window      show a window of this (another) process in the foreground
//                       while the program runs, and tell afterwards whether it was
//                       left enabled
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 10;
constexpr DWORD kDeadlineMs = 120000;
constexpr int kMessageTextId = 0xFFFF;  // the static of a standard message box
constexpr DWORD kPlaceSettleMs = 1000;
const wchar_t kOtherWindowCaption[] = L"Telvor test: another program";

std::string Escape(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    if (c == L'\\') {
      escaped += L"\\\\";
    } else if (c == L'\n') {
      escaped += L"\\n";
    } else if (c == L'\r') {
      escaped += L"\\r";
    } else {
      escaped += c;
    }
  }
  if (escaped.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, escaped.c_str(), static_cast<int>(escaped.size()),
                                 nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, escaped.c_str(), static_cast<int>(escaped.size()), &utf8[0], size,
                      nullptr, nullptr);
  return utf8;
}

void Report(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

struct DialogContent {
  std::wstring text;  // the first static with text
  bool has_button = false;
  bool has_icon = false;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* content = reinterpret_cast<DialogContent*>(param);
  std::wstring cls = ClassName(child);
  if (lstrcmpiW(cls.c_str(), L"Button") == 0) content->has_button = true;
  if (lstrcmpiW(cls.c_str(), L"Static") == 0) {
    LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0) {
      content->has_icon = true;
    }
    std::wstring text = WindowText(child);
    if (content->text.empty() && !text.empty()) content->text = text;
  }
  return TRUE;
}

DialogContent ReadDialog(HWND dialog) {
  DialogContent content;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&content));
  // Windows gives the text static id 0xFFFF; prefer it where it exists.
  wchar_t text[1024] = {};
  if (GetDlgItemTextW(dialog, kMessageTextId, text, 1024) > 0) content.text = text;
  return content;
}

struct Watch {
  DWORD process_id = 0;
  std::set<HWND> seen;
  std::vector<HWND> pending;
  std::wstring progress_caption = L"Telvor Printer Install";
  std::wstring box_caption = L"Install";
};

std::string OwnerOf(HWND window) {
  HWND owner = GetWindow(window, GW_OWNER);
  if (owner == nullptr) return "none";
  DWORD process = 0;
  GetWindowThreadProcessId(owner, &process);
  return Escape(WindowText(owner)) + " (process " + std::to_string(process) + ")";
}

// Where a box lies against the progress window, as the window manager keeps
// the Z order. The box may take a moment to come to the front; the last
// reading within a second is given.
std::string PlaceOf(const Watch& watch, HWND box) {
  std::string place;
  ULONGLONG until = GetTickCount64() + kPlaceSettleMs;
  for (;;) {
    HWND progress = FindWindowW(L"#32770", watch.progress_caption.c_str());
    bool above = false;
    for (HWND below = GetWindow(box, GW_HWNDNEXT); below != nullptr;
         below = GetWindow(below, GW_HWNDNEXT)) {
      if (below == progress) above = true;
    }
    bool topmost = (GetWindowLongPtrW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    bool foreground = GetForegroundWindow() == box;
    place = progress == nullptr ? "no progress window"
                                : std::string(above ? "above" : "below") + " the progress window";
    place += std::string(", topmost ") + (topmost ? "yes" : "no") + ", foreground " +
             (foreground ? "yes" : "no");
    if ((above && topmost && foreground) || GetTickCount64() > until) return place;
    Sleep(kPollMs);
  }
}

void HandleDialog(Watch& watch, HWND dialog) {
  std::wstring caption = WindowText(dialog);
  DialogContent content = ReadDialog(dialog);
  if (caption == watch.progress_caption) {
    RECT r = {};
    GetWindowRect(dialog, &r);
    char where[80];
    std::snprintf(where, sizeof where, " at %ld %ld %ld %ld", r.left, r.top, r.right - r.left,
                  r.bottom - r.top);
    Report("window: " + Escape(caption) + where);
    Report("owner: " + OwnerOf(dialog));
    watch.seen.insert(dialog);
    return;
  }
  // A box still being built is looked at again on the next round.
  if (!content.has_button) return;
  watch.seen.insert(dialog);
  if (caption == watch.box_caption) {
    Report("box: " + Escape(caption) + ": " + Escape(content.text) +
           (content.has_icon ? " (icon)" : ""));
    Report("place: " + PlaceOf(watch, dialog));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  } else {
    // Setup prompts (e.g. for a missing source disk) would block the run.
    Report("prompt: " + Escape(caption) + ": " + Escape(content.text));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  auto* watch = reinterpret_cast<Watch*>(param);
  DWORD owner_process = 0;
  GetWindowThreadProcessId(window, &owner_process);
  if (owner_process != watch->process_id || !IsWindowVisible(window)) return TRUE;
  if (watch->seen.count(window) != 0 || ClassName(window) != L"#32770") return TRUE;
  watch->pending.push_back(window);
  return TRUE;
}

void VisitDialogs(Watch& watch) {
  watch.pending.clear();
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&watch));
  // The progress window first: a box found in the same round (above it in the
  // Z order) is the later of the two.
  std::stable_partition(watch.pending.begin(), watch.pending.end(),
                        [&](HWND w) { return WindowText(w) == watch.progress_caption; });
  for (HWND dialog : watch.pending) HandleDialog(watch, dialog);
}

struct SpoolerWatch {
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = nullptr;
  DWORD last_state = 0;
  DWORD last_process = 0;

  bool Open(DWORD access) {
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager != nullptr) service = OpenServiceW(manager, L"Spooler", access);
    return service != nullptr;
  }

  void Poll() {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed)) {
      return;
    }
    bool running = status.dwCurrentState == SERVICE_RUNNING;
    bool stopped = status.dwCurrentState == SERVICE_STOPPED;
    if (running && (last_state != SERVICE_RUNNING || status.dwProcessId != last_process)) {
      Report("spooler: running (process " + std::to_string(status.dwProcessId) + ")");
    } else if (stopped && last_state != SERVICE_STOPPED) {
      Report("spooler: stopped");
    }
    if (running || stopped) {
      last_state = status.dwCurrentState;
      last_process = status.dwProcessId;
    }
  }

  bool StartAndWait() {
    if (!StartServiceW(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
      return false;
    }
    for (int i = 0; i < 1000; ++i) {
      SERVICE_STATUS status = {};
      if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING) {
        return true;
      }
      Sleep(kPollMs);
    }
    return false;
  }
};

int Usage() {
  Report("usage: run_watched.exe [--start-spooler] [--other-window] PROGRAM [ARGUMENT...]");
  return 2;
}

// The level that the program's manifest asks for, or "none".
std::string ManifestLevel(const wchar_t* program) {
  HMODULE image = LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (image == nullptr) return "unreadable";
  std::string level = "none";
  HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  if (found != nullptr) {
    const char* text = static_cast<const char*>(LockResource(LoadResource(image, found)));
    std::string manifest(text, SizeofResource(image, found));
    const std::string key = "requestedExecutionLevel level=\"";
    size_t at = manifest.find(key);
    level = at == std::string::npos
                ? "not asked"
                : manifest.substr(at + key.size(),
                                  manifest.find('"', at + key.size()) - at - key.size());
  }
  FreeLibrary(image);
  return level;
}

std::string Elevation(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
    return "unknown (" + std::to_string(GetLastError()) + ")";
  }
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  bool ok = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) != FALSE;
  CloseHandle(token);
  if (!ok) return "unknown";
  return type == TokenElevationTypeFull      ? "full"
         : type == TokenElevationTypeLimited ? "limited"
                                             : "default";
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// A plain window of this process in the foreground, as another program's
// window would be when the installer starts.
HWND ShowOtherWindow() {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"TelvorOtherProgram";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, kOtherWindowCaption,
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 240, 120, nullptr, nullptr,
                                window_class.hInstance, nullptr);
  SetForegroundWindow(window);
  PumpMessages();
  return window;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // LF line ends, as the POSIX side reads them
  Watch watch;
  bool start_spooler = false;
  bool other_window = false;
  int arg = 1;
  for (; arg < argc && argv[arg][0] == L'-'; ++arg) {
    if (lstrcmpW(argv[arg], L"--start-spooler") == 0) {
      start_spooler = true;
    } else if (lstrcmpW(argv[arg], L"--other-window") == 0) {
      other_window = true;
    } else {
      return Usage();
    }
  }
  if (arg >= argc) return Usage();

  SpoolerWatch spooler;
  if (!spooler.Open(SERVICE_QUERY_STATUS | SERVICE_START)) {
    Report("error: the service \"Spooler\" cannot be opened: " + std::to_string(GetLastError()));
    return 1;
  }
  if (start_spooler && !spooler.StartAndWait()) {
    Report("error: the service \"Spooler\" does not start: " + std::to_string(GetLastError()));
    return 1;
  }
  spooler.Poll();
  Report("manifest: " + ManifestLevel(argv[arg]));
  HWND other = other_window ? ShowOtherWindow() : nullptr;

  // Each argument quoted; none of the tests' arguments holds a quote.
  std::wstring command_line = L"\"" + std::wstring(argv[arg]) + L"\"";
  for (int extra = arg + 1; extra < argc; ++extra) {
    command_line += L" \"" + std::wstring(argv[extra]) + L"\"";
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[arg], &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    Report("error: the program cannot be started: " + std::to_string(GetLastError()));
    return 1;
  }
  watch.process_id = process.dwProcessId;
  Report("elevation: " + Elevation(process.hProcess));

  ULONGLONG deadline = GetTickCount64() + kDeadlineMs;
  // Our own window's messages are handled meanwhile: the program may send
  // to it (a dialog it owns would disable it).
  while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, kPollMs, QS_ALLINPUT) !=
         WAIT_OBJECT_0) {
    PumpMessages();
    VisitDialogs(watch);
    spooler.Poll();
    if (GetTickCount64() > deadline) {
      Report("error: the program did not end within " + std::to_string(kDeadlineMs) + " ms");
      TerminateProcess(process.hProcess, 1);
      return 1;
    }
  }
  spooler.Poll();
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  PumpMessages();
  if (other != nullptr) {
    Report(std::string("other window: ") + (IsWindowEnabled(other) ? "enabled" : "disabled"));
  }
  Report("exit: " + std::to_string(code));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
