#include "dialogs_windows.h"

#include <cstddef>
#include <initializer_list>

#include "resource.h"
#include "text_cast.h"
#include "widths.h"

namespace quor {

namespace {

constexpr wchar_t kSetupTemplate[] = L"" QUOR_SETUP_DIALOG;
constexpr wchar_t kFaxNumberTemplate[] = L"" QUOR_FAX_NUMBER_DIALOG;

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

DialogResult RunDialog(HINSTANCE module, const wchar_t* name, HWND owner, DLGPROC procedure,
                       void* fields) {
  const INT_PTR result =
      DialogBoxParamW(module, name, owner, procedure, reinterpret_cast<LPARAM>(fields));
  if (result == IDOK) return DialogResult::kOk;
  if (result == IDCANCEL) return DialogResult::kCancel;
  return DialogResult::kFailed;
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const SetupFields* fields = KeepFields<SetupFields>(dialog, lParam);
    // Empty at first use; the stored values when an administrator changes
    // them later.
    SetDlgItemTextW(dialog, QUOR_ID_SERVER_IP, AsWide(fields->server_ip));
    SetDlgItemTextW(dialog, QUOR_ID_USER, AsWide(fields->user));
    SetDlgItemTextW(dialog, QUOR_ID_PASSWORD, AsWide(fields->password));
    SetDlgItemTextW(dialog, QUOR_ID_MAIL, AsWide(fields->mail));
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

}  // namespace

DialogResult ShowSetupDialog(HINSTANCE module, HWND owner, SetupFields& fields) {
  return RunDialog(module, kSetupTemplate, owner, SetupDialogProc, &fields);
}

DialogResult ShowFaxNumberDialog(HINSTANCE module, HWND owner, FaxNumberFields& fields) {
  return RunDialog(module, kFaxNumberTemplate, owner, FaxNumberDialogProc, &fields);
}

}  // namespace quor
