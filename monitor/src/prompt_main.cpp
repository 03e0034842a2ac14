// quorprompt.exe, the monitor's prompt program. The spooler runs as a
// service on a desktop nobody sees, so the monitor starts this program on
// the desktop of the person who printed:
//
//   quorprompt.exe /prompt     reads the dialog to show and its fields from
//                              standard input (a pipe only the monitor holds)
//                              and writes the answer to standard output
//   quorprompt.exe /settings   for an administrator: the setup dialog filled
//                              with the stored settings, which OK stores again
#include "quor/spooler.h"
// After the spooler's records, which choose the layout of <windows.h>.
// clang-format off
#include <shellapi.h>
// clang-format on

#include <cwchar>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "dialogs_windows.h"
#include "prompt_channel.h"
#include "report.h"
#include "settings.h"
#include "telvor_common/monitor_key_windows.h"
#include "telvor_common/names.h"
#include "telvor_common/text.h"
#include "telvor_common/win_errors.h"
#include "text_cast.h"

namespace {

using quor::AsWide;

constexpr wchar_t kUsage[] = L"quorprompt.exe /settings: change the fax server settings";
constexpr int kUsageStatus = 2;

void Say(const char16_t* text) {
  MessageBoxW(nullptr, AsWide(text), AsWide(quor::kCaption), MB_OK);
}

int Prompt(HINSTANCE module) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  // One byte more than a message: a longer request is no request.
  unsigned char request[quor::kPromptMessageBytes + 1];
  std::size_t size = 0;
  DWORD count = 0;
  while (size < sizeof(request) &&
         ReadFile(input, request + size, static_cast<DWORD>(sizeof(request) - size), &count,
                  nullptr) &&
         count > 0) {
    size += count;
  }
  quor::DialogResult result = quor::DialogResult::kFailed;
  std::uint32_t error = 0;
  quor::SetupFields setup{};
  quor::FaxNumberFields number{};
  quor::DialogKind kind = quor::DialogKind::kSetup;
  void* fields = &setup;
  if (quor::DecodePrompt(request, size, kind, &result, &error, fields)) {
    result = quor::ShowSetupDialog(module, nullptr, setup);
  } else {
    kind = quor::DialogKind::kFaxNumber;
    fields = &number;
    if (!quor::DecodePrompt(request, size, kind, &result, &error, fields)) {
      return static_cast<int>(telvor::win_error::kInvalidData);
    }
    result = quor::ShowFaxNumberDialog(module, nullptr, number);
  }
  error = result == quor::DialogResult::kFailed ? GetLastError() : 0;
  unsigned char answer[quor::kPromptMessageBytes];
  const std::size_t answer_size = quor::EncodePrompt(kind, result, error, fields, answer);
  DWORD written = 0;
  WriteFile(output, answer, static_cast<DWORD>(answer_size), &written, nullptr);
  return 0;
}

// A stored text that does not fit its field is not shown in part. True when
// the key holds the value at all, shown or not.
template <std::size_t N>
bool ReadSetting(HKEY key, const char16_t* name, char16_t (&field)[N]) {
  wchar_t data[N + 1] = {};
  DWORD type = 0;
  DWORD bytes = N * sizeof(wchar_t);
  const LONG read =
      RegQueryValueExW(key, AsWide(name), nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
  if (read != ERROR_SUCCESS || type != REG_SZ || std::wcslen(data) >= N) {
    return read == ERROR_SUCCESS || read == ERROR_MORE_DATA;
  }
  std::wmemcpy(AsWide(field), data, std::wcslen(data) + 1);
  return true;
}

bool WriteSetting(HKEY key, const char16_t* name, const char16_t* text) {
  const auto bytes =
      static_cast<DWORD>((std::char_traits<char16_t>::length(text) + 1) * sizeof(char16_t));
  return RegSetValueExW(key, AsWide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
         ERROR_SUCCESS;
}

int ChangeSettings(HINSTANCE module) {
  const std::wstring path =
      std::wstring(AsWide(telvor::kMonitorsKeyPath)) + AsWide(telvor::kMonitorName);
  HKEY key = nullptr;
  const LONG opened =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (opened != ERROR_SUCCESS) {
    // Not installed, or not run by an administrator.
    Say(opened == ERROR_FILE_NOT_FOUND ? quor::kReadFailed : quor::kWriteFailed);
    return static_cast<int>(opened);
  }
  quor::SetupFields fields{};
  std::char_traits<char16_t>::copy(fields.attempts, quor::kInitialAttempts,
                                   std::size(quor::kInitialAttempts));
  ReadSetting(key, quor::kServerIpValue, fields.server_ip);
  ReadSetting(key, quor::kUserValue, fields.user);
  ReadSetting(key, quor::kPasswordValue, fields.password);
  ReadSetting(key, quor::kMailValue, fields.mail);
  ReadSetting(key, quor::kAttemptsValue, fields.attempts);
  const bool modem_stored = ReadSetting(key, quor::kModemValue, fields.modem);
  int status = 0;
  // As at first use: a setup confirmed without a server stores nothing.
  if (quor::ShowSetupDialog(module, nullptr, fields) == quor::DialogResult::kOk &&
      fields.server_ip[0] != 0) {
    std::vector<std::pair<const char16_t*, const char16_t*>> values = {
        {quor::kServerIpValue, fields.server_ip},
        {quor::kUserValue, fields.user},
        {quor::kPasswordValue, fields.password},
        {quor::kMailValue, fields.mail},
        {quor::kAttemptsValue, fields.attempts}};
    // As the monitor stores it: an empty modem only in place of one stored
    // before, so that a key set up without one stays as it was.
    if (fields.modem[0] != 0 || modem_stored) values.emplace_back(quor::kModemValue, fields.modem);
    for (const auto& value : values) {
      if (!WriteSetting(key, value.first, value.second)) {
        Say(quor::kWriteFailed);
        status = 1;
      }
    }
  }
  RegCloseKey(key);
  // Whatever the key's access list was (an older installation left Users
  // reading it), the password is the administrators' from now on.
  if (!telvor::ProtectMonitorKey()) {
    Say(telvor::FormatCode(quor::kProtectFailed, static_cast<std::int32_t>(GetLastError()))
            .c_str());
    if (status == 0) status = 1;
  }
  return status;
}

}  // namespace

int WINAPI WinMain(HINSTANCE module, HINSTANCE, LPSTR, int) {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const std::wstring mode = arguments && count == 2 ? arguments[1] : L"";
  LocalFree(arguments);
  if (mode == quor::kPromptSwitch) return Prompt(module);
  if (lstrcmpiW(mode.c_str(), AsWide(quor::kSettingsSwitch)) == 0) return ChangeSettings(module);
  MessageBoxW(nullptr, kUsage, AsWide(quor::kCaption), MB_OK);
  return kUsageStatus;
}
