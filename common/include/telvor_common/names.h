// The names that tie the installer and the port monitor together: what the
// installer registers is what the monitor answers to and loads.
#pragma once

namespace telvor {

inline constexpr char16_t kPrinterName[] = u"Telvor Printer";
inline constexpr char16_t kPortName[] = u"FX:";
inline constexpr char16_t kMonitorName[] = u"TelvorMon";
// Library files on Windows, found by these names in the system directory.
inline constexpr char16_t kMonitorLibraryFile[] = u"quor.dll";
inline constexpr char16_t kFaxLibraryFile[] = u"telvor.dll";
// The monitor's prompt program, beside quor.dll: its dialogs on the desktop
// of the person who printed when the spooler runs as a service.
inline constexpr char16_t kPromptProgramFile[] = u"quorprompt.exe";
// The Application event log source of the monitor's messages.
inline constexpr char16_t kEventSourceName[] = u"TelvorMon";

// The values of the monitor's registry key: the five settings, and the one
// the spooler writes when the monitor is registered.
inline constexpr char16_t kServerIpValue[] = u"HylaFAXServerIp";
inline constexpr char16_t kUserValue[] = u"User";
inline constexpr char16_t kPasswordValue[] = u"Password";
inline constexpr char16_t kMailValue[] = u"MailAddress";
inline constexpr char16_t kAttemptsValue[] = u"Attempts";
inline constexpr char16_t kDriverValue[] = u"Driver";

}  // namespace telvor
