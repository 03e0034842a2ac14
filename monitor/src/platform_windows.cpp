// The monitor's platform layer on Windows: kernel, user-interface,
// spooler, session and event-log calls, each a call and a conversion.
#include "quor/spooler.h"
// After the spooler's records, which choose the layout of <windows.h>.
// clang-format off
#include <aclapi.h>
#include <sddl.h>
#include <userenv.h>
#include <wtsapi32.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "dialogs_windows.h"
#include "events.h"
#include "platform.h"
#include "telvor_common/data_folder_windows.h"
#include "telvor_common/monitor_key_windows.h"
#include "telvor_common/names.h"
#include "telvor_common/win_errors.h"
#include "text_cast.h"

namespace quor {

namespace {

// The dialog templates are in the library's own module, and the prompt
// program beside it.
HMODULE g_library_module = nullptr;
// The interactive desktop of a session, where the prompt program shows.
constexpr wchar_t kInteractiveDesktop[] = L"winsta0\\default";
constexpr DWORD kMillisecondsPerSecond = 1000;
// A session message's timeout that keeps the box until its OK.
constexpr DWORD kUntilAnswered = 0;

// The temporary-name call's number that asks for a fresh name.
constexpr UINT kFreshNumber = 0;
static_assert(kPathUnits >= MAX_PATH, "the temporary-name call fills MAX_PATH units");

// The thread's stay as the process itself (the spooler's own account): the
// token it acted with before, put back when the outermost stay ends.
struct SelfStay {
  unsigned depth;
  HANDLE token;  // null: the thread acted for no one
};
thread_local SelfStay t_self_stay{};

// A file beside the monitor's library, by its full path.
std::wstring BesideLibrary(const char16_t* file) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(g_library_module, path, MAX_PATH);
  std::wstring directory(path, length);
  directory.resize(directory.rfind(L'\\') + 1);
  return directory + AsWide(file);
}

std::wstring PromptProgramPath() { return BesideLibrary(telvor::kPromptProgramFile); }

// Both ends of a pipe, closed with it.
struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  Pipe() = default;
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() {
    Close(read);
    Close(write);
  }
  static void Close(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
  }
  // `child_end` is the one the prompt program inherits.
  bool Create(HANDLE Pipe::*child_end) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inheritable, 0)) return false;
    HANDLE own_end = child_end == &Pipe::read ? write : read;
    return SetHandleInformation(own_end, HANDLE_FLAG_INHERIT, 0) != FALSE;
  }
};

// Starts the prompt program as `user` on the session's interactive desktop,
// inheriting only the two pipe ends; false with the last error set.
bool StartPrompt(HANDLE user, HANDLE input, HANDLE output, PROCESS_INFORMATION* process) {
  HANDLE inherited[] = {input, output};
  SIZE_T list_size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  std::vector<unsigned char> list_memory(list_size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &list_size)) return false;
  const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                inherited, sizeof(inherited), nullptr, nullptr);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.lpDesktop = const_cast<LPWSTR>(kInteractiveDesktop);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = output;
  startup.lpAttributeList = list;
  // The user's own environment; the spooler's when it cannot be made.
  void* environment = nullptr;
  if (!CreateEnvironmentBlock(&environment, user, FALSE)) environment = nullptr;
  const std::wstring program = PromptProgramPath();
  std::wstring command = L"\"" + program + L"\" " + kPromptSwitch;
  const BOOL started =
      listed && CreateProcessAsUserW(user, program.c_str(), &command[0], nullptr, nullptr, TRUE,
                                     CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT,
                                     environment, nullptr, &startup.StartupInfo, process);
  const DWORD error = GetLastError();
  if (environment) DestroyEnvironmentBlock(environment);
  DeleteProcThreadAttributeList(list);
  SetLastError(error);
  return started != FALSE;
}

// Hands the request to the prompt program and waits for its answer; false
// with the last error set.
bool AskPrompt(HANDLE user, const void* request, std::size_t request_size, void* answer,
               std::size_t* size, DWORD milliseconds) {
  Pipe to_prompt;
  Pipe from_prompt;
  if (!to_prompt.Create(&Pipe::read) || !from_prompt.Create(&Pipe::write)) return false;
  PROCESS_INFORMATION process{};
  if (!StartPrompt(user, to_prompt.read, from_prompt.write, &process)) return false;
  CloseHandle(process.hThread);
  // Only the prompt program holds these ends now: the answer's end of file
  // comes when it ends.
  Pipe::Close(to_prompt.read);
  Pipe::Close(from_prompt.write);
  DWORD written = 0;
  // The request is smaller than the pipe's buffer: this write does not wait.
  WriteFile(to_prompt.write, request, static_cast<DWORD>(request_size), &written, nullptr);
  Pipe::Close(to_prompt.write);
  const DWORD waited = WaitForSingleObject(process.hProcess, milliseconds);
  if (waited != WAIT_OBJECT_0) {
    // Nobody answered in time (or the wait failed): the prompt goes.
    TerminateProcess(process.hProcess, WAIT_TIMEOUT);
    CloseHandle(process.hProcess);
    SetLastError(WAIT_TIMEOUT);
    return false;
  }
  CloseHandle(process.hProcess);
  // The answer is smaller than the pipe's buffer: it is all there.
  auto* bytes = static_cast<unsigned char*>(answer);
  std::size_t total = 0;
  DWORD count = 0;
  while (total < *size &&
         ReadFile(from_prompt.read, bytes + total, static_cast<DWORD>(*size - total), &count,
                  nullptr) &&
         count > 0) {
    total += count;
  }
  *size = total;
  return true;
}

}  // namespace

namespace {

class WindowsPlatform final : public Platform {
 public:
  std::uint32_t LastError() override { return ::GetLastError(); }
  void SetLastError(std::uint32_t code) override { ::SetLastError(code); }

  void* AllocateTable(std::size_t size) override { return GlobalAlloc(GPTR, size); }

  // Deleting a file this monitor holds open fails with code 32, as the
  // opening would.
  Handle OpenExclusiveFile(const char16_t* path) override {
    if (!DeleteFileW(AsWide(path)) && GetLastError() != telvor::win_error::kFileNotFound) {
      return nullptr;
    }
    const HANDLE file =
        CreateFileW(AsWide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
  }

  bool AppendToFile(Handle file, const void* data, std::uint32_t size,
                    std::uint32_t* written) override {
    DWORD count = 0;
    const BOOL ok = ::WriteFile(file, data, size, &count, nullptr);
    *written = count;
    return ok != FALSE;
  }

  bool CutFileHere(Handle file) override { return ::SetEndOfFile(file) != FALSE; }
  bool CloseFile(Handle file) override { return ::CloseHandle(file) != FALSE; }
  bool RemoveFile(const char16_t* path) override { return DeleteFileW(AsWide(path)) != FALSE; }

  std::uint32_t ReadEnvironment(const char16_t* name, char16_t* buffer,
                                std::uint32_t capacity) override {
    return GetEnvironmentVariableW(AsWide(name), AsWide(buffer), capacity);
  }

  std::uint32_t SpoolFolder(char16_t* buffer, std::uint32_t capacity) override {
    wchar_t data[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(telvor::kProgramDataVariable, data, MAX_PATH);
    if (length == 0) return 0;
    if (length >= MAX_PATH) {
      ::SetLastError(telvor::win_error::kFilenameExcedRange);
      return 0;
    }
    const std::wstring own = std::wstring(data, length) + L'\\' + AsWide(telvor::kDataFolderName);
    const std::wstring spool = own + L'\\' + AsWide(telvor::kSpoolFolderName);
    if (!telvor::MakeOwnFolder(own) || !telvor::MakeOwnFolder(spool)) return 0;
    if (spool.size() >= capacity) return static_cast<std::uint32_t>(spool.size() + 1);
    std::copy(spool.c_str(), spool.c_str() + spool.size() + 1, AsWide(buffer));
    return static_cast<std::uint32_t>(spool.size());
  }

  bool LogInSpoolFolder() override { return true; }

  bool ProtectSettings() override { return telvor::ProtectMonitorKey(); }

  // The platform's temporary-name call only forms the name when given a
  // number, and picks a fresh one and creates the file when given 0.
  std::uint32_t FormTempName(const char16_t* directory, const char16_t* prefix,
                             std::uint32_t number, char16_t* path) override {
    return GetTempFileNameW(AsWide(directory), AsWide(prefix), number, AsWide(path));
  }

  std::uint32_t CreateFreshTempFile(const char16_t* directory, const char16_t* prefix,
                                    char16_t* path) override {
    return GetTempFileNameW(AsWide(directory), AsWide(prefix), kFreshNumber, AsWide(path));
  }

  // By its full path: a missing client is never looked for in the current
  // folder, the Windows folder or PATH, where anyone may have put one. Its
  // own imports are looked for beside it first.
  Handle LoadFaxLibrary() override {
    return LoadLibraryExW(BesideLibrary(telvor::kFaxLibraryFile).c_str(), nullptr,
                          LOAD_WITH_ALTERED_SEARCH_PATH);
  }

  SendFaxFunction ResolveSendFax(Handle library, const char* name) override {
    const FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<SendFaxFunction>(reinterpret_cast<void (*)()>(address));
  }

  SendFaxJobFunction ResolveSendFaxJob(Handle library, const char* name) override {
    const DWORD error = GetLastError();
    const FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
    SetLastError(error);  // an older library without it is no failure
    return reinterpret_cast<SendFaxJobFunction>(reinterpret_cast<void (*)()>(address));
  }

  bool FreeFaxLibrary(Handle library) override {
    return FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
  }

  DialogResult AskSettings(SetupFields& fields) override {
    return ShowSetupDialog(g_library_module, GetTopWindow(nullptr), fields);
  }

  DialogResult AskFaxNumber(FaxNumberFields& fields) override {
    return ShowFaxNumberDialog(g_library_module, nullptr, fields);
  }

  void ShowMessage(const char16_t* text, const char16_t* caption, Owner owner) override {
    const HWND window = owner == Owner::kTopWindow ? GetTopWindow(nullptr) : nullptr;
    MessageBoxW(window, AsWide(text), AsWide(caption), MB_OK);
  }

  bool OpenJobPrinter(const char16_t* printer_name, Handle* printer) override {
    HANDLE opened = nullptr;
    const BOOL ok = OpenPrinterW(const_cast<LPWSTR>(AsWide(printer_name)), &opened, nullptr);
    *printer = opened;
    return ok != FALSE;
  }

  bool MarkJobSent(Handle printer, std::uint32_t job_id) override {
    return SetJobW(printer, job_id, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER) != FALSE;
  }

  bool CloseJobPrinter(Handle printer) override { return ClosePrinter(printer) != FALSE; }

  bool OnVisibleDesktop() override {
    USEROBJECTFLAGS flags{};
    // Unknown counts as seen: the dialogs then show in-process, as always.
    if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                   nullptr)) {
      return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
  }

  Handle TakeCallerToken(std::uint32_t* session) override {
    *session = kNoSession;
    HANDLE thread_token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &thread_token)) {
      return nullptr;
    }
    HANDLE primary = nullptr;
    const BOOL duplicated = DuplicateTokenEx(thread_token, MAXIMUM_ALLOWED, nullptr,
                                             SecurityImpersonation, TokenPrimary, &primary);
    CloseHandle(thread_token);
    if (!duplicated) return nullptr;
    DWORD id = 0;
    DWORD size = 0;
    if (GetTokenInformation(primary, TokenSessionId, &id, sizeof(id), &size)) *session = id;
    return primary;
  }

  void ReleaseToken(Handle token) override { CloseHandle(token); }

  // With no token given, the membership is checked in the thread's
  // impersonation token: a standard user's, or an administrator's that UAC
  // filtered, holds Administrators for denying only and is no member.
  bool CallerMayConfigure() override {
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(sid);
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
           CheckTokenMembership(nullptr, sid, &member) && member;
  }

  bool JobUserName(Handle printer, std::uint32_t job_id, char16_t* name,
                   std::size_t capacity) override {
    DWORD needed = 0;
    GetJobW(printer, job_id, 1, nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<BYTE> buffer(needed);
    if (!GetJobW(printer, job_id, 1, buffer.data(), needed, &needed)) return false;
    const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
    if (!info->pUserName || info->pUserName[0] == 0) return false;
    const std::size_t length = std::wcslen(info->pUserName);
    if (length >= capacity) return false;
    std::copy(info->pUserName, info->pUserName + length + 1, AsWide(name));
    return true;
  }

  // Letter is the one paper sent other than as A4 (the client's own, all
  // zeros); the fax resolution is the client's own.
  bool JobPaperOf(Handle printer, std::uint32_t job_id, JobPaper* paper) override {
    DWORD needed = 0;
    GetJobW(printer, job_id, 2, nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<BYTE> buffer(needed);
    if (!GetJobW(printer, job_id, 2, buffer.data(), needed, &needed)) return false;
    const DEVMODEW* mode = reinterpret_cast<const JOB_INFO_2W*>(buffer.data())->pDevMode;
    if (!mode || !(mode->dmFields & DM_PAPERSIZE)) return false;
    const bool letter =
        mode->dmPaperSize == DMPAPER_LETTER || mode->dmPaperSize == DMPAPER_LETTERSMALL;
    *paper = letter ? JobPaper{telvor::kLetterWidthMm, telvor::kLetterLengthMm, 0} : JobPaper{};
    return true;
  }

  std::uint32_t UserSession(const char16_t* user) override {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
      return kNoSession;
    }
    std::uint32_t found = kNoSession;
    for (DWORD i = 0; i < count && found == kNoSession; ++i) {
      // Only a session someone is at can answer.
      if (sessions[i].State != WTSActive) continue;
      LPWSTR name = nullptr;
      DWORD bytes = 0;
      if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessions[i].SessionId,
                                       WTSUserName, &name, &bytes)) {
        continue;
      }
      if (lstrcmpiW(name, AsWide(user)) == 0) found = sessions[i].SessionId;
      WTSFreeMemory(name);
    }
    WTSFreeMemory(sessions);
    return found;
  }

  std::uint32_t ConsoleSession() override { return WTSGetActiveConsoleSessionId(); }

  // As the spooler: its rights start a program as another user.
  bool RunPrompt(Handle token, std::uint32_t session, const void* request, std::size_t request_size,
                 void* answer, std::size_t* size, std::uint32_t seconds) override {
    HANDLE user = token;
    HANDLE session_user = nullptr;
    if (!user && WTSQueryUserToken(session, &session_user)) user = session_user;
    const bool ok = user && AskPrompt(user, request, request_size, answer, size,
                                      seconds * kMillisecondsPerSecond);
    const DWORD error = GetLastError();
    if (session_user) CloseHandle(session_user);
    ::SetLastError(error);
    return ok;
  }

  void SendSessionMessage(std::uint32_t session, const char16_t* text, const char16_t* caption,
                          bool wait_for_ok) override {
    DWORD response = 0;
    const auto bytes = [](const char16_t* s) {
      return static_cast<DWORD>(std::char_traits<char16_t>::length(s) * sizeof(char16_t));
    };
    WTSSendMessageW(WTS_CURRENT_SERVER_HANDLE, session, const_cast<LPWSTR>(AsWide(caption)),
                    bytes(caption), const_cast<LPWSTR>(AsWide(text)), bytes(text), MB_OK,
                    kUntilAnswered, &response, wait_for_ok ? TRUE : FALSE);
  }

  void LogEvent(const char16_t* text) override {
    const HANDLE source = RegisterEventSourceW(nullptr, AsWide(telvor::kEventSourceName));
    if (!source) return;
    LPCWSTR strings[] = {AsWide(text)};
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, QUOR_EVENT_MESSAGE, nullptr, 1, 0, strings,
                 nullptr);
    DeregisterEventSource(source);
  }

  // The spooler follows the job through its own state; the server's job
  // number is in the client's log.
  void ReportJob(const JobReport&) override {}

  bool ToAnsi(const char16_t* text, char* out, std::size_t capacity) override {
    return WideCharToMultiByte(CP_ACP, 0, AsWide(text), -1, out, static_cast<int>(capacity),
                               nullptr, nullptr) != 0;
  }

  // RevertToSelf and the saved thread token rather than RevertToPrinterSelf:
  // the same effect, with no handle the spooler must give back.
  void BeginAsSpooler() override {
    if (t_self_stay.depth++ != 0) return;
    const DWORD error = GetLastError();
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, &token)) {
      RevertToSelf();
    } else {
      token = nullptr;
    }
    t_self_stay.token = token;
    ::SetLastError(error);
  }

  void EndAsSpooler() override {
    if (t_self_stay.depth == 0 || --t_self_stay.depth != 0 || !t_self_stay.token) return;
    const DWORD error = GetLastError();
    SetThreadToken(nullptr, t_self_stay.token);
    CloseHandle(t_self_stay.token);
    t_self_stay.token = nullptr;
    ::SetLastError(error);
  }
};

}  // namespace

void KeepLibraryModule(void* module) { g_library_module = static_cast<HMODULE>(module); }

Platform& SystemPlatform() {
  static WindowsPlatform platform;
  return platform;
}

}  // namespace quor
