// The monitor's platform layer on Windows: kernel, user-interface and
// spooler calls, each a call and a conversion.
#include <cstdint>
#include <initializer_list>

#include "platform.h"
#include "quor/spooler.h"
#include "resource.h"
#include "telvor_common/names.h"
#include "text_cast.h"

namespace quor {

namespace {

// The library's own module, kept by its load notification: the dialog
// templates are there.
HMODULE g_library_module = nullptr;

constexpr wchar_t kSetupTemplate[] = L"" QUOR_SETUP_DIALOG;
constexpr wchar_t kFaxNumberTemplate[] = L"" QUOR_FAX_NUMBER_DIALOG;

// The temporary-name call's number that asks for a fresh name.
constexpr UINT kFreshNumber = 0;
static_assert(kPathUnits >= MAX_PATH, "the temporary-name call fills MAX_PATH units");

// Reads at most `capacity` - 1 characters; an empty or unreadable control
// leaves the field empty.
template <std::size_t N>
void ReadControl(HWND dialog, int id, char16_t (&field)[N], std::size_t capacity = N) {
  const int units = static_cast<int>(capacity < N ? capacity : N);
  if (GetDlgItemTextW(dialog, id, AsWide(field), units) == 0) field[0] = 0;
}

void LimitControl(HWND dialog, int id, std::size_t limit) {
  SendDlgItemMessageW(dialog, id, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
}

template <typename Fields>
Fields* DialogFields(HWND dialog) {
  return reinterpret_cast<Fields*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

// The dialog's fields record arrives as the initialisation parameter.
template <typename Fields>
Fields* KeepFields(HWND dialog, LPARAM lParam) {
  SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
  return reinterpret_cast<Fields*>(lParam);
}

DialogResult RunDialog(const wchar_t* name, HWND owner, DLGPROC procedure, void* fields) {
  const INT_PTR result =
      DialogBoxParamW(g_library_module, name, owner, procedure, reinterpret_cast<LPARAM>(fields));
  if (result == IDOK) return DialogResult::kOk;
  if (result == IDCANCEL) return DialogResult::kCancel;
  return DialogResult::kFailed;
}

}  // namespace

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const SetupFields* fields = KeepFields<SetupFields>(dialog, lParam);
    SetDlgItemTextW(dialog, QUOR_ID_DEFAULT_ATTEMPTS, AsWide(fields->attempts));
    LimitControl(dialog, QUOR_ID_DEFAULT_ATTEMPTS, kAttemptsLimit);
    for (int id : {QUOR_ID_SERVER_IP, QUOR_ID_USER, QUOR_ID_PASSWORD, QUOR_ID_MAIL}) {
      LimitControl(dialog, id, kTextLimit);
    }
    return FALSE;  // the dialog manager does not place the focus
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) {
    SetupFields* fields = DialogFields<SetupFields>(dialog);
    ReadControl(dialog, QUOR_ID_SERVER_IP, fields->server_ip);
    ReadControl(dialog, QUOR_ID_USER, fields->user);
    ReadControl(dialog, QUOR_ID_PASSWORD, fields->password);
    ReadControl(dialog, QUOR_ID_MAIL, fields->mail);
    ReadControl(dialog, QUOR_ID_DEFAULT_ATTEMPTS, fields->attempts);
    EndDialog(dialog, static_cast<INT_PTR>(wParam));
    return TRUE;
  }
  if (LOWORD(wParam) == IDCANCEL) {
    EndDialog(dialog, static_cast<INT_PTR>(wParam));
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK FaxNumberDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const FaxNumberFields* fields = KeepFields<FaxNumberFields>(dialog, lParam);
    SetDlgItemTextW(dialog, QUOR_ID_ATTEMPTS, AsWide(fields->attempts));
    LimitControl(dialog, QUOR_ID_ATTEMPTS, kAttemptsLimit);
    // A longer number is refused as it is typed, not cut afterwards.
    LimitControl(dialog, QUOR_ID_FAX_NUMBER, kFaxNumberLimit);
    LimitControl(dialog, QUOR_ID_INFO, kTextLimit);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) {
    FaxNumberFields* fields = DialogFields<FaxNumberFields>(dialog);
    // The field has a unit to spare: a number is 14 digits at most, even one
    // set into the control without its typing limit.
    ReadControl(dialog, QUOR_ID_FAX_NUMBER, fields->fax_number, kFaxNumberLimit + 1);
    ReadControl(dialog, QUOR_ID_ATTEMPTS, fields->attempts);
    ReadControl(dialog, QUOR_ID_INFO, fields->info);
    EndDialog(dialog, static_cast<INT_PTR>(wParam));
    return TRUE;
  }
  if (LOWORD(wParam) == IDCANCEL) {
    EndDialog(dialog, static_cast<INT_PTR>(wParam));
    return TRUE;
  }
  return FALSE;
}

namespace {

class WindowsPlatform final : public Platform {
 public:
  std::uint32_t LastError() override { return ::GetLastError(); }
  void SetLastError(std::uint32_t code) override { ::SetLastError(code); }

  void* AllocateTable(std::size_t size) override { return GlobalAlloc(GPTR, size); }

  Handle OpenExclusiveFile(const char16_t* path) override {
    const HANDLE file = CreateFileW(AsWide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

  Handle LoadFaxLibrary() override { return LoadLibraryW(AsWide(telvor::kFaxLibraryFile)); }

  SendFaxFunction ResolveSendFax(Handle library, const char* name) override {
    const FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<SendFaxFunction>(reinterpret_cast<void (*)()>(address));
  }

  bool FreeFaxLibrary(Handle library) override {
    return FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
  }

  DialogResult AskSettings(SetupFields& fields) override {
    return RunDialog(kSetupTemplate, GetTopWindow(nullptr), SetupDialogProc, &fields);
  }

  DialogResult AskFaxNumber(FaxNumberFields& fields) override {
    return RunDialog(kFaxNumberTemplate, nullptr, FaxNumberDialogProc, &fields);
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

  bool ToAnsi(const char16_t* text, char* out, std::size_t capacity) override {
    return WideCharToMultiByte(CP_ACP, 0, AsWide(text), -1, out, static_cast<int>(capacity),
                               nullptr, nullptr) != 0;
  }
};

}  // namespace

void KeepLibraryModule(void* module) { g_library_module = static_cast<HMODULE>(module); }

Platform& SystemPlatform() {
  static WindowsPlatform platform;
  return platform;
}

}  // namespace quor
