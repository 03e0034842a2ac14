// The monitor's settings (five, and the optional modem), kept in its registry key through the
// spooler's registry functions, and the setup at first use.
#pragma once

#include <cstdint>
#include <string>

#include "platform.h"
#include "quor/spooler.h"
#include "telvor_common/names.h"
#include "widths.h"

namespace quor {

using telvor::kAttemptsValue;
using telvor::kMailValue;
using telvor::kModemValue;
using telvor::kPasswordValue;
using telvor::kServerIpValue;
using telvor::kUserValue;

// Attempts until the setup has stored one.
inline constexpr char16_t kInitialAttempts[] = u"1";

inline constexpr char16_t kReadFailed[] = u"Error read registry";
inline constexpr char16_t kWriteFailed[] = u"Error write registry";
// The settings are stored, but every user might read the password.
inline constexpr char16_t kProtectFailed[] = u"RegSetKeySecurity error %d\n";

// The prompt program's switch for an administrator's change of the settings.
inline constexpr char16_t kSettingsSwitch[] = u"/settings";

// What a person who may not set the monitor up is told when printing before
// an administrator has.
std::u16string NotSetUpText();

// A setting in the ANSI code page, as sendfax receives it.
struct NarrowSetting {
  char text[NarrowBytes(kTextUnits)];
  // Nonzero when the stored value could not be converted (text then empty):
  // the code the conversion failed with. A job refuses to send with it.
  std::uint32_t conversion_error;
};

struct MonitorSettings {
  // Written by the setup dialog, the source of the registry writes;
  // `attempts` (its only form) also by the registry read and the fax-number
  // dialog.
  SetupFields wide;
  // Written only from the registry.
  NarrowSetting server_ip;
  NarrowSetting user;
  NarrowSetting password;
  NarrowSetting mail;
  NarrowSetting modem;  // empty: the client's own
  // The key was never set up and the person who printed may not: the job
  // is kept for when an administrator has.
  bool awaiting_administrator;
};

// Process-wide, one instance: empty texts and attempts "1" at load.
extern MonitorSettings g_settings;
void ResetSettings();

// The first piece of opening the port: shows the setup dialog when the key
// has never been set up (it holds only the spooler's own value) to a person
// who may store it, then reads the stored values into g_settings, or takes
// what the setup accepted.
void LoadSettings(const MONITORINIT& init);
// While the settings await an administrator, loads them again (the port
// stays open from job to job): what an administrator has stored since, or
// the setup when the person now printing may store it.
void LoadSettingsIfAwaited();

}  // namespace quor
