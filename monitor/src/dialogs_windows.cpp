#include "dialogs_windows.h"

#include <cstddef>
#include <initializer_list>
#include <string>

#include "quor/fax_number.h"
#include "resource.h"
#include "text_cast.h"
#include "widths.h"

namespace quor {

namespace {

constexpr wchar_t kSetupTemplate[] = L"" QUOR_SETUP_DIALOG;
constexpr wchar_t kFaxNumberTemplate[] = L"" QUOR_FAX_NUMBER_DIALOG;
constexpr wchar_t kSetupCaption[] = L"" QUOR_SETUP_CAPTION;
constexpr wchar_t kFaxNumberCaption[] = L"" QUOR_FAX_NUMBER_CAPTION;

// Reads at most N - 1 characters; an empty or unreadable control leaves the
// field empty.
template <std::size_t N>
void ReadControl(HWND dialog, int id, char16_t (&field)[N]) {
  if (GetDlgItemTextW(dialog, id, AsWide(field), static_cast<int>(N)) == 0) field[0] = 0;
}

// The whole text, however long: a text set into a control past its typing
// limit is judged as it is, not cut to fit first.
std::u16string ControlText(HWND control) {
  std::u16string text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, u'\0');
  const int length = GetWindowTextW(control, AsWide(&text[0]), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return text;
}

// Says why the entry in control `id` is refused, over the dialog, which
// stays open with that control to mend.
void Refuse(HWND dialog, const wchar_t* caption, int id, const std::u16string& reason) {
  MessageBoxW(dialog, AsWide(reason.c_str()), caption, MB_OK);
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

bool AttemptsTaken(HWND dialog, const wchar_t* caption, int id) {
  const std::u16string attempts = ControlText(GetDlgItem(dialog, id));
  int count = 0;
  if (ReadAttempts(attempts, &count)) return true;
  Refuse(dialog, caption, id, AttemptsFaultText(attempts));
  return false;
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

// The first line of the clipboard's text, as a one-line field pastes it.
bool ClipboardLine(HWND owner, std::u16string* line) {
  if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(owner)) return false;
  const HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const auto* text = data ? static_cast<const char16_t*>(GlobalLock(data)) : nullptr;
  if (text) {
    line->assign(text);
    const std::size_t end = line->find_first_of(u"\r\n");
    if (end != std::u16string::npos) line->resize(end);
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text != nullptr;
}

// Why pasting into the number field would leave it holding what no number
// may hold; empty when the paste may go in.
std::u16string PasteFault(HWND field) {
  std::u16string pasted;
  if (!ClipboardLine(field, &pasted)) return u"";
  DWORD start = 0;
  DWORD end = 0;
  SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  std::u16string result = ControlText(field);
  if (start > end || end > result.size()) return u"";
  result.replace(start, end - start, pasted);
  for (const char16_t c : pasted) {
    if (!IsFaxNumberCharacter(c)) return NumberFaultText(NumberFault::kCharacter, result);
  }
  if (result.size() > kFaxNumberLimit) return NumberFaultText(NumberFault::kTooLong, result);
  return u"";
}

// The number field lets in only what a number may hold, typed or pasted. A
// paste goes in whole or not at all: a number cut to fit, or stripped of
// what it held, would dial someone else.
LRESULT CALLBACK NumberFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(field, GWLP_USERDATA));
  if (message == WM_CHAR && wParam >= L' ' &&
      !IsFaxNumberCharacter(static_cast<char16_t>(wParam))) {
    MessageBeep(MB_OK);
    return 0;
  }
  if (message == WM_PASTE) {
    const std::u16string fault = PasteFault(field);
    if (!fault.empty()) {
      MessageBoxW(GetParent(field), AsWide(fault.c_str()), kFaxNumberCaption, MB_OK);
      return 0;
    }
  }
  return CallWindowProcW(original, field, message, wParam, lParam);
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
    SetDlgItemTextW(dialog, QUOR_ID_MODEM, AsWide(fields->modem));
    LimitControl(dialog, QUOR_ID_DEFAULT_ATTEMPTS, kAttemptsLimit);
    for (int id :
         {QUOR_ID_SERVER_IP, QUOR_ID_USER, QUOR_ID_PASSWORD, QUOR_ID_MAIL, QUOR_ID_MODEM}) {
      LimitControl(dialog, id, kTextLimit);
    }
    return FALSE;  // the dialog manager does not place the focus
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) {
    if (!AttemptsTaken(dialog, kSetupCaption, QUOR_ID_DEFAULT_ATTEMPTS)) return TRUE;
    const std::u16string modem = ControlText(GetDlgItem(dialog, QUOR_ID_MODEM));
    if (!ModemNameTaken(modem)) {
      Refuse(dialog, kSetupCaption, QUOR_ID_MODEM, ModemFaultText(modem));
      return TRUE;
    }
    SetupFields* fields = DialogFields<SetupFields>(dialog);
    ReadControl(dialog, QUOR_ID_SERVER_IP, fields->server_ip);
    ReadControl(dialog, QUOR_ID_USER, fields->user);
    ReadControl(dialog, QUOR_ID_PASSWORD, fields->password);
    ReadControl(dialog, QUOR_ID_MAIL, fields->mail);
    ReadControl(dialog, QUOR_ID_DEFAULT_ATTEMPTS, fields->attempts);
    ReadControl(dialog, QUOR_ID_MODEM, fields->modem);
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
    const HWND number = GetDlgItem(dialog, QUOR_ID_FAX_NUMBER);
    // An edit control leaves its user data to whoever made it.
    SetWindowLongPtrW(
        number, GWLP_USERDATA,
        SetWindowLongPtrW(number, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NumberFieldProc)));
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) {
    // Only a number the rule takes leaves the dialog: the monitor would
    // refuse any other once the dialog had gone.
    const std::u16string number = ControlText(GetDlgItem(dialog, QUOR_ID_FAX_NUMBER));
    std::u16string dial;
    const NumberFault fault = ReadFaxNumber(number, &dial);
    if (fault != NumberFault::kNone) {
      Refuse(dialog, kFaxNumberCaption, QUOR_ID_FAX_NUMBER, NumberFaultText(fault, number));
      return TRUE;
    }
    if (!AttemptsTaken(dialog, kFaxNumberCaption, QUOR_ID_ATTEMPTS)) return TRUE;
    FaxNumberFields* fields = DialogFields<FaxNumberFields>(dialog);
    static_assert(kFaxNumberTypedLimit < kFaxNumberUnits, "a number the rule takes fits");
    number.copy(fields->fax_number, number.size());
    fields->fax_number[number.size()] = 0;
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
