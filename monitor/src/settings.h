// The monitor's five settings, kept in its registry key through the
// spooler's registry functions, and the setup at first use.
#pragma once

#include <cstdint>

#include "platform.h"
#include "quor/spooler.h"
#include "telvor_common/names.h"
#include "widths.h"

namespace quor {

using telvor::kAttemptsValue;
using telvor::kMailValue;
using telvor::kPasswordValue;
using telvor::kServerIpValue;
using telvor::kUserValue;

// Attempts until the setup has stored one.
inline constexpr char16_t kInitialAttempts[] = u"1";

inline constexpr char16_t kReadFailed[] = u"Error read registry";
inline constexpr char16_t kWriteFailed[] = u"Error write registry";

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
};

// Process-wide, one instance: empty texts and attempts "1" at load.
extern MonitorSettings g_settings;
void ResetSettings();

// The first piece of opening the port: shows the setup dialog when the key
// has never been set up (it holds only the spooler's own value), then reads
// the stored values into g_settings.
void LoadSettings(const MONITORINIT& init);

}  // namespace quor
