#include "settings.h"

#include <cstring>
#include <initializer_list>

#include "person.h"
#include "report.h"
#include "telvor_common/text.h"
#include "telvor_common/win_errors.h"
#include "text_cast.h"

namespace quor {

namespace {

namespace win_error = telvor::win_error;

constexpr char16_t kNoMoreItems[] = u"ERROR_NO_MORE_ITEMS";
constexpr char16_t kEnumerationCaption[] = u"TelvMon2";

// The only key with one value is a key that the spooler wrote at
// registration (the monitor's library name) and that was never set up.
constexpr DWORD kFreshKeyValues = 1;

// The registry functions answer with a Windows error code.
std::uint32_t Code(LONG result) { return static_cast<std::uint32_t>(result); }

void ShowRegistryMessage(const char16_t* text) { TellPerson(text, kCaption, Owner::kTopWindow); }

// The number of values in the key; 0 (after a message) when the query fails.
DWORD QueryValueCount(const MONITORINIT& init) {
  DWORD count = 0;
  const auto result =
      Code(init.pMonitorReg->fpQueryInfoKey(init.hckRegistryRoot, nullptr, nullptr, &count, nullptr,
                                            nullptr, nullptr, nullptr, init.hSpooler));
  if (result != win_error::kSuccess) {
    ShowRegistryMessage(kReadFailed);
    return 0;
  }
  return count;
}

void WriteValue(const MONITORINIT& init, const char16_t* name, const char16_t* text) {
  const auto bytes = static_cast<DWORD>(sizeof(char16_t) * (telvor::TextLength(text) + 1));
  LONG written = 0;
  {
    // The spooler's key: no user who prints may write it.
    const AsSpooler as_spooler;
    written =
        init.pMonitorReg->fpSetValue(init.hckRegistryRoot, AsWide(name), REG_SZ,
                                     reinterpret_cast<const BYTE*>(text), bytes, init.hSpooler);
  }
  if (Code(written) != win_error::kSuccess) ShowRegistryMessage(kWriteFailed);
}

void WriteSettings(const MONITORINIT& init) {
  const SetupFields& wide = g_settings.wide;
  WriteValue(init, kServerIpValue, wide.server_ip);
  WriteValue(init, kUserValue, wide.user);
  WriteValue(init, kPasswordValue, wide.password);
  WriteValue(init, kMailValue, wide.mail);
  WriteValue(init, kAttemptsValue, wide.attempts);
  // Optional: written when given, or to clear one stored before.
  if (wide.modem[0] != 0 || g_settings.modem.text[0] != 0) {
    WriteValue(init, kModemValue, wide.modem);
  }
  // The spooler's functions cannot set the key's security: the password
  // stays the administrators' only if it is set after every write.
  bool kept = false;
  std::uint32_t error = 0;
  {
    const AsSpooler as_spooler;
    kept = CurrentPlatform().ProtectSettings();
    if (!kept) error = CurrentPlatform().LastError();
  }
  if (!kept) ReportCode(kProtectFailed, static_cast<std::int32_t>(error));
}

void StoreNarrow(NarrowSetting& setting, const char16_t* text) {
  if (CurrentPlatform().ToAnsi(text, setting.text, sizeof(setting.text))) {
    setting.conversion_error = 0;
  } else {
    setting.conversion_error = CurrentPlatform().LastError();
    setting.text[0] = 0;
  }
}

bool Equal(const char16_t* a, const char16_t* b) { return telvor::TextView(a) == b; }

bool IsSettingName(const char16_t* name) {
  for (const char16_t* setting :
       {kServerIpValue, kUserValue, kPasswordValue, kMailValue, kAttemptsValue, kModemValue}) {
    if (Equal(name, setting)) return true;
  }
  return false;
}

void ReadValue(const MONITORINIT& init, DWORD index) {
  // One unit more than the capacities given, always zero: a name or text
  // that fills its capacity is still terminated.
  char16_t name[kTextUnits + 1] = {};
  char16_t data[kTextUnits + 1] = {};
  DWORD name_capacity = kTextUnits;
  DWORD data_capacity = kTextUnits * sizeof(char16_t);
  const auto result = Code(init.pMonitorReg->fpEnumValue(
      init.hckRegistryRoot, index, AsWide(name), &name_capacity, nullptr,
      reinterpret_cast<BYTE*>(data), &data_capacity, init.hSpooler));
  if (result == win_error::kNoMoreItems) {
    TellPerson(kNoMoreItems, kEnumerationCaption, Owner::kNone);
    return;
  }
  if (result == win_error::kMoreData) {
    // One of ours with a text longer than its field is not loaded in part; a
    // name too long for the buffer is none of ours and is passed over.
    if (IsSettingName(name)) ShowRegistryMessage(kReadFailed);
    return;
  }
  if (Equal(name, kServerIpValue)) {
    StoreNarrow(g_settings.server_ip, data);
  } else if (Equal(name, kUserValue)) {
    StoreNarrow(g_settings.user, data);
  } else if (Equal(name, kPasswordValue)) {
    StoreNarrow(g_settings.password, data);
  } else if (Equal(name, kMailValue)) {
    StoreNarrow(g_settings.mail, data);
  } else if (Equal(name, kModemValue)) {
    StoreNarrow(g_settings.modem, data);
  } else if (Equal(name, kAttemptsValue)) {
    // The field holds one digit; a longer stored text is not cut to it.
    if (telvor::TextLength(data) <= kAttemptsLimit) {
      telvor::CopyText(g_settings.wide.attempts, kAttemptsUnits, data);
    } else {
      ShowRegistryMessage(kReadFailed);
    }
  }
}

MonitorSettings InitialSettings() {
  static_assert(sizeof(kInitialAttempts) <= sizeof(SetupFields::attempts), "attempts width");
  MonitorSettings settings{};
  std::memcpy(settings.wide.attempts, kInitialAttempts, sizeof(kInitialAttempts));
  return settings;
}

// What a setup accepted, for this job whatever the registry took of it.
void UseAcceptedSettings() {
  const SetupFields& wide = g_settings.wide;
  StoreNarrow(g_settings.server_ip, wide.server_ip);
  StoreNarrow(g_settings.user, wide.user);
  StoreNarrow(g_settings.password, wide.password);
  StoreNarrow(g_settings.mail, wide.mail);
  StoreNarrow(g_settings.modem, wide.modem);
}

}  // namespace

MonitorSettings g_settings = InitialSettings();

std::u16string NotSetUpText() {
  return std::u16string(u"Telvor Printer is not set up yet. Ask your administrator to run ") +
         telvor::kPromptProgramFile + u" " + kSettingsSwitch + u".";
}

// The spooler's records from the last loading; they live as long as the
// monitor.
const MONITORINIT* g_init = nullptr;

void ResetSettings() {
  g_settings = InitialSettings();
  g_init = nullptr;
}

void LoadSettingsIfAwaited() {
  if (g_settings.awaiting_administrator && g_init) LoadSettings(*g_init);
}

void LoadSettings(const MONITORINIT& init) {
  g_init = &init;
  g_settings.awaiting_administrator = false;
  DWORD count = QueryValueCount(init);
  if (count == kFreshKeyValues && !CurrentPlatform().CallerMayConfigure()) {
    // A standard user's writes would be refused, and the settings are the
    // administrators' to choose.
    g_settings.awaiting_administrator = true;
    return;
  }
  if (count == kFreshKeyValues) {
    // Cancelled, or confirmed without a server (Enter in a form that was
    // never filled in): nothing is stored, so the setup comes again next
    // time; this job goes on with the settings in memory.
    // The dialog starts with the attempts alone (it shows every field it is
    // given: the administrator's change of the stored settings fills all).
    SetupFields fields{};
    std::memcpy(fields.attempts, g_settings.wide.attempts, sizeof(fields.attempts));
    if (AskPersonSettings(fields) == DialogResult::kOk && fields.server_ip[0] != 0) {
      g_settings.wide = fields;
      WriteSettings(init);
      UseAcceptedSettings();
      return;
    }
  }
  // A key without the modem, as every key before it was offered, keeps the
  // client's own.
  g_settings.modem = NarrowSetting{};
  for (DWORD index = count; index > 0; --index) ReadValue(init, index - 1);
}

}  // namespace quor
