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
// The monitor's own folder on Windows, under ProgramData: the placeholder,
// the spool files, the documents kept when a fax was not sent and the fax
// client's log, for SYSTEM and Administrators alone.
inline constexpr char16_t kDataFolderName[] = u"Telvor Printer";
inline constexpr char16_t kSpoolFolderName[] = u"Spool";
// The Application event log source of the monitor's messages.
inline constexpr char16_t kEventSourceName[] = u"TelvorMon";

// The installer's copy in the system directory, which the Apps list's
// uninstall command runs once the unpacked folder is gone, and its entry
// there, under HKEY_LOCAL_MACHINE.
inline constexpr char16_t kInstallerCopyFile[] = u"telvor-install.exe";
inline constexpr char16_t kUninstallKeyPath[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TelvorPrinter";
inline constexpr char16_t kPublisherName[] = u"Telvor";

// The values of the monitor's registry key: the five settings, and the one
// the spooler writes when the monitor is registered.
inline constexpr char16_t kServerIpValue[] = u"HylaFAXServerIp";
inline constexpr char16_t kUserValue[] = u"User";
inline constexpr char16_t kPasswordValue[] = u"Password";
inline constexpr char16_t kMailValue[] = u"MailAddress";
inline constexpr char16_t kAttemptsValue[] = u"Attempts";
// The sixth setting, optional: the fax server's modem ("ttyS0" without it).
inline constexpr char16_t kModemValue[] = u"Modem";
inline constexpr char16_t kDriverValue[] = u"Driver";
// Where the monitors' keys are, under HKEY_LOCAL_MACHINE (the monitor's is
// named kMonitorName), and the access list of the monitor's: it holds the
// password, and without one of its own every user could read it (the Print
// key passes read access for Users on). SYSTEM and Administrators alone,
// subkeys included, nothing inherited.
inline constexpr char16_t kMonitorsKeyPath[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
inline constexpr char16_t kMonitorKeyAccess[] = u"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

// Letter paper as the fax server is told of it, in millimetres: the one
// paper sent other than as A4.
inline constexpr unsigned kLetterWidthMm = 216;
inline constexpr unsigned kLetterLengthMm = 279;

}  // namespace telvor
