#include "sequence.h"

#include <cstring>
#include <string>

#include "command_line.h"
#include "platform.h"
#include "progress.h"
#include "report.h"
#include "restart.h"
#include "telvor_common/names.h"
#include "telvor_common/text.h"
#include "telvor_common/win_errors.h"

namespace telvor::installer {
namespace {

// The spooler's name for the platform the driver and monitor are for.
#if defined(_WIN64)
const char16_t kEnvironment[] = u"Windows x64";
#else
const char16_t kEnvironment[] = u"Windows NT x86";
#endif

const char16_t kDriverName[] = u"HP LaserJet 4/4M PS";
// Windows 8 and later ship no legacy driver in ntprint.inf; their own
// PostScript driver lies in the driver store.
const char16_t kClassDriverName[] = u"Microsoft PS Class Driver";
const char16_t kDriverFile[] = u"PSCRIPT5.DLL";
const char16_t kDriverDataFile[] = u"HP4M6_V1.PPD";
const char16_t kDriverConfigFile[] = u"PS5UI.DLL";
const char16_t kDriverHelpFile[] = u"PSCRIPT.HLP";
const char16_t kDriverDependentFile[] = u"PSCRIPT.NTF";
const char16_t kNoText[] = u"";
const char16_t kDriverInf[] = u"ntprint.inf";
const char16_t kInfClass[] = u"Printer";
// The INF section that lists the driver's files has the data file's name.
const char16_t* const kInfSection = kDriverDataFile;
const char16_t kPrintProcessor[] = u"WinPrint";
constexpr char16_t kPathSeparator = u'\\';

const char16_t kSuccessMessage[] = u"Install Success!";
const char16_t kWrongPackage[] =
    u"This 32-bit package cannot install on 64-bit Windows. Run install.exe of the x64 "
    u"package.\n";
const char16_t kCreateThreadFailed[] = u"CreateThread1 error %d\n";
const char16_t kEnumDriversFailed[] = u"EnumPrinterDrivers error %d\n";
const char16_t kEnumPrintersFailed[] = u"EnumPrinters error %d\n";
const char16_t kDriverDirectoryFailed[] = u"GetPrinterDriverDirectory error %d\n";
const char16_t kOpenInfFailed[] = u"SetupOpenInfFile error %d\n";
const char16_t kSetDirectoryFailed[] = u"SetupSetDirectoryId error %d\n";
const char16_t kOpenQueueFailed[] = u"SetupOpenFileQueue error %d\n";
const char16_t kQueueFilesFailed[] = u"SetupInstallFilesFromInfSection error %d\n";
const char16_t kQueueContextFailed[] = u"SetupInitDefaultQueueCallback error %d\n";
const char16_t kCommitQueueFailed[] = u"SetupCommitFileQueue error %d\n";
const char16_t kAddDriverFailed[] = u"AddPrinterDriver error %d\n";
const char16_t kEnumMonitorsFailed[] = u"EnumMonitors error %d\n";
const char16_t kOpenPrinterFailed[] = u"OpenPrinter error %d\n";
const char16_t kDeletePrinterFailed[] = u"DeletePrinter error %d\n";
const char16_t kDeleteMonitorFailed[] = u"DeleteMonitor error %d\n";
const char16_t kSystemDirectoryFailed[] = u"GetSystemDirectory1 error %d\n";
const char16_t kCopyMonitorFailed[] = u"CopyFile1 error %d\n";
const char16_t kCopyFaxLibraryFailed[] = u"CopyFile2 error %d\n";
const char16_t kCopyPromptProgramFailed[] = u"CopyFile3 error %d\n";
const char16_t kEventLogFailed[] = u"EventLog error %d\n";
const char16_t kAddMonitorFailed[] = u"AddMonitor error %d\n";
const char16_t kProtectKeyFailed[] = u"RegSetKeySecurity error %d\n";
const char16_t kAddPrinterFailed[] = u"AddPrinter error %d\n";
const char16_t kClosePrinterFailed[] = u"ClosePrinter error %d\n";
const char16_t kReadPasswordFailed[] = u"ReadFile error %d\n";
const char16_t kReadSettingFailed[] = u"RegQueryValueEx error %d\n";
const char16_t kWriteSettingFailed[] = u"RegSetValueEx error %d\n";
const char16_t kKeepSettingsFailed[] = u"WriteFile error %d\n";
const char16_t kDeleteKeyFailed[] = u"RegDeleteKey error %d\n";
const char16_t kDeleteFileFailed[] = u"DeleteFile error %d\n";
const char16_t kUninstallSuccessMessage[] = u"Uninstall Success!";
const char16_t kCopyInstallerFailed[] = u"CopyFile4 error %d\n";
const char16_t kUninstallEntryFailed[] = u"RegCreateKeyEx error %d\n";
// The project's version, from the build.
const char16_t kVersionText[] = u"" TELVOR_VERSION;

// The monitor's settings, by their value names, in this order.
constexpr const char16_t* kSettingNames[] = {kServerIpValue, kUserValue,     kPasswordValue,
                                             kMailValue,     kAttemptsValue, kModemValue};
// The stored settings while an upgrade replaces the monitor (whose key goes
// with it): in the monitor's folder, for SYSTEM and Administrators alone,
// until they are back in the new key. A run that fails in between leaves it
// for the next one.
const char16_t kKeptSettingsFile[] = u"kept-settings";

constexpr std::uint32_t kDriverVersion = 3;
constexpr std::uint32_t kDriverDirectoryId = 66000;

constexpr std::size_t kDependentFilesUnits = 1000 / sizeof(char16_t);
constexpr std::size_t kDriverDirectoryBytes = 500;
constexpr std::size_t kPathUnits = 256;

// The fixed records handed to the spooler.
struct Records {
  // A list of names closed by an empty one: the zero fill ends it.
  char16_t dependent_files[kDependentFilesUnits];
  DriverRecord driver;
  PrinterRecord printer;
  MonitorRecord monitor;
};

void PrepareRecords(Records& r) {
  std::memset(r.dependent_files, 0, sizeof r.dependent_files);
  CopyText(r.dependent_files, kDependentFilesUnits, kDriverDependentFile);

  r.driver.version = kDriverVersion;
  r.driver.name = kDriverName;
  r.driver.environment = kEnvironment;
  r.driver.driver_path = kDriverFile;
  r.driver.data_file = kDriverDataFile;
  r.driver.config_file = kDriverConfigFile;
  r.driver.help_file = kDriverHelpFile;
  r.driver.dependent_files = r.dependent_files;
  r.driver.monitor_name = kNoText;
  r.driver.default_data_type = kNoText;

  r.printer.name = kPrinterName;
  r.printer.port = kPortName;
  r.printer.driver = kDriverName;
  r.printer.print_processor = kPrintProcessor;

  r.monitor.name = kMonitorName;
  r.monitor.environment = kEnvironment;
  r.monitor.library = kMonitorLibraryFile;
}

// Whole names, case-sensitive; every name is looked at.
bool Listed(const Names& names, const char16_t* wanted) {
  bool found = false;
  for (const Text& name : names) {
    if (name == wanted) found = true;
  }
  return found;
}

const char16_t* InfStepFailure(InfStep step) {
  switch (step) {
    case InfStep::kOpenInf:
      return kOpenInfFailed;
    case InfStep::kSetDirectory:
      return kSetDirectoryFailed;
    case InfStep::kOpenQueue:
      return kOpenQueueFailed;
    case InfStep::kQueueFiles:
      return kQueueFilesFailed;
    case InfStep::kQueueContext:
      return kQueueContextFailed;
    case InfStep::kCommit:
      break;
  }
  return kCommitQueueFailed;
}

// A failed step: its message and the error code.
struct Failure {
  const char16_t* format;
  std::uint32_t code;
};

// One installation run: how a failure ends it.
class Run {
 public:
  explicit Run(Platform& platform) : platform_(platform) {}

  // Pauses can nest (the suspend count); the run pauses once at most.
  void Pause() {
    if (!paused_) PauseAnimation();
    paused_ = true;
  }
  void Resume() {
    if (paused_) ResumeAnimation();
    paused_ = false;
  }

  // The bar stops, then the box: a moving bar would say the installer is
  // still at work.
  std::uint32_t Fail(const Failure& failure) {
    Pause();
    return ReportCode(failure.format, failure.code);
  }
  std::uint32_t Fail(const char16_t* format, std::uint32_t code) { return Fail({format, code}); }
  std::uint32_t FailWithLastError(const char16_t* format) {
    return Fail(format, platform_.LastError());
  }

 private:
  Platform& platform_;
  bool paused_ = false;
};

// Installs the driver's files from the INF into the printer-driver directory
// and adds the driver; on failure `failure` tells the step and its code.
bool InstallLegacyDriver(Platform& platform, const DriverRecord& driver, Failure& failure) {
  char16_t directory[kDriverDirectoryBytes / sizeof(char16_t)] = {};
  if (!platform.DriverDirectory(kEnvironment, directory, sizeof directory)) {
    failure = {kDriverDirectoryFailed, platform.LastError()};
    return false;
  }
  directory[kDriverDirectoryBytes / sizeof(char16_t) - 1] = 0;

  const InfCopy copy{kDriverInf,         kInfClass, kInfSection,
                     kDriverDirectoryId, directory, platform.TopWindow()};
  InfStep step = InfStep::kOpenInf;
  if (!platform.CopyInfFiles(copy, &step)) {
    failure = {InfStepFailure(step), platform.LastError()};
    return false;
  }
  if (!platform.AddDriver(driver)) {
    failure = {kAddDriverFailed, platform.LastError()};
    return false;
  }
  return true;
}

// `directory` followed by `name` into a path area; false when it does not fit.
bool JoinPath(char16_t (&path)[kPathUnits], const char16_t* directory, const char16_t* name) {
  const TextView head(directory);
  const TextView tail(name);
  if (head.size() + tail.size() + 1 > kPathUnits) return false;
  head.copy(path, head.size());
  tail.copy(path + head.size(), tail.size());
  path[head.size() + tail.size()] = 0;
  return true;
}

// What ships beside install.exe and goes into the system directory, each
// copy with its own step message.
struct ShippedFile {
  const char16_t* name;
  const char16_t* copy_failed;
};
constexpr ShippedFile kShippedFiles[] = {
    {kMonitorLibraryFile, kCopyMonitorFailed},
    {kFaxLibraryFile, kCopyFaxLibraryFailed},
    {kPromptProgramFile, kCopyPromptProgramFailed},
};
constexpr std::size_t kShippedCount = sizeof kShippedFiles / sizeof kShippedFiles[0];
// The monitor library carries the message table of the monitor's events.
constexpr std::size_t kMessageFileIndex = 0;
static_assert(kShippedFiles[kMessageFileIndex].name == kMonitorLibraryFile);

using Settings = std::vector<std::pair<Text, Text>>;

// Sets `name` to `value`, in place when it is there.
void Put(Settings& settings, const Text& name, const Text& value) {
  for (auto& setting : settings) {
    if (setting.first == name) {
      setting.second = value;
      return;
    }
  }
  settings.emplace_back(name, value);
}

// Name and value, each closed by a zero byte: any text a value holds survives.
std::string Serialize(const Settings& settings) {
  std::string content;
  for (const auto& setting : settings) {
    content += ToUtf8(setting.first) + '\0' + ToUtf8(setting.second) + '\0';
  }
  return content;
}

Settings Deserialize(const std::string& content) {
  Settings settings;
  std::size_t at = 0;
  while (at < content.size()) {
    const std::size_t name_end = content.find('\0', at);
    if (name_end == std::string::npos) break;
    const std::size_t value_end = content.find('\0', name_end + 1);
    if (value_end == std::string::npos) break;
    Put(settings, FromUtf8(content.substr(at, name_end - at)),
        FromUtf8(content.substr(name_end + 1, value_end - name_end - 1)));
    at = value_end + 1;
  }
  return settings;
}

// The password file's first line, without a byte-order mark or line end.
Text FirstLine(const std::string& content) {
  std::size_t start = content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  const std::size_t end = content.find_first_of("\r\n", start);
  return FromUtf8(content.substr(start, end == std::string::npos ? end : end - start));
}

// The settings the old installation holds: those a failed run kept, else
// those in the monitor's key. Put aside in the kept file before the old
// monitor goes.
std::uint32_t KeepStoredSettings(Platform& platform, Run& run, bool monitor_present,
                                 Settings& stored) {
  std::string kept;
  if (platform.ReadOwnFile(kKeptSettingsFile, kept)) {
    stored = Deserialize(kept);
    return 0;
  }
  if (!monitor_present) return 0;
  for (const char16_t* name : kSettingNames) {
    Text value;
    bool present = false;
    if (!platform.ReadMonitorValue(name, value, present)) {
      return run.FailWithLastError(kReadSettingFailed);
    }
    if (present) stored.emplace_back(name, value);
  }
  if (stored.empty()) return 0;
  if (!platform.WriteOwnFile(kKeptSettingsFile, Serialize(stored), false)) {
    return run.FailWithLastError(kKeepSettingsFailed);
  }
  return 0;
}

// The system directory with its closing backslash; 0 or the failure.
std::uint32_t SystemDirectoryPath(Platform& platform, Run& run,
                                  char16_t (&system_directory)[kPathUnits]) {
  const std::uint32_t length = platform.SystemDirectory(system_directory, kPathUnits);
  if (length == 0) return run.FailWithLastError(kSystemDirectoryFailed);
  // Room for the backslash and the terminator.
  if (length + 2 > kPathUnits) {
    return run.Fail(kSystemDirectoryFailed, win_error::kFilenameExcedRange);
  }
  system_directory[length] = kPathSeparator;
  system_directory[length + 1] = 0;
  return 0;
}

// Deletes the printer when there is one.
std::uint32_t RemovePrinter(Platform& platform, Run& run) {
  const Handle printer = platform.OpenPrinterToDelete(kPrinterName);
  if (printer == 0) return run.FailWithLastError(kOpenPrinterFailed);
  const bool deleted = platform.DeletePrinter(printer);
  const std::uint32_t delete_error = deleted ? 0 : platform.LastError();
  // A printer marked for deletion goes only when its last handle closes.
  platform.ClosePrinter(printer);
  if (!deleted) return run.Fail(kDeletePrinterFailed, delete_error);
  return 0;
}

// Removes every registration of the monitor, and the printer with it when
// there is one.
std::uint32_t RemoveOldMonitor(Platform& platform, Run& run, const Records& records,
                               const Names& monitors, bool printer_present) {
  // The walk covers the list as it was taken, before any deletion.
  for (const Text& name : monitors) {
    if (name != records.monitor.name) continue;
    if (printer_present) {
      const std::uint32_t code = RemovePrinter(platform, run);
      if (code != 0) return code;
    }
    RestartSpoolerService();  // goes on whatever the restart gave
    if (!platform.DeleteMonitor(records.monitor.environment, records.monitor.name)) {
      return run.FailWithLastError(kDeleteMonitorFailed);
    }
  }
  return 0;
}

struct CopyPaths {
  char16_t source[kPathUnits];
  char16_t destination[kPathUnits];
};

// Every shipped file's source beside the installer and destination in the
// system directory, each source checked to be there: all of it before
// anything of an old installation is removed, so that a run that cannot
// finish leaves that installation whole.
std::uint32_t PrepareCopies(Platform& platform, Run& run, CopyPaths (&paths)[kShippedCount],
                            CopyPaths& installer) {
  char16_t system_directory[kPathUnits] = {};
  const std::uint32_t failed = SystemDirectoryPath(platform, run, system_directory);
  if (failed != 0) return failed;

  char16_t directory[kPathUnits] = {};
  const std::uint32_t program_length = platform.ProgramPath(directory, kPathUnits);
  if (program_length < kPathUnits) {
    CopyText(installer.source, kPathUnits, TextView(directory, program_length));
  }
  for (std::size_t i = 0; i < kShippedCount; ++i) {
    const ShippedFile& file = kShippedFiles[i];
    // A full area means the path was cut.
    if (program_length >= kPathUnits) {
      return run.Fail(file.copy_failed, win_error::kFilenameExcedRange);
    }
    directory[program_length] = 0;
    // Keep the directory and its backslash; with no backslash the files are
    // taken from the current directory.
    directory[FindLastUnit(directory, kPathSeparator) + 1] = 0;
    if (!JoinPath(paths[i].source, directory, file.name) ||
        !JoinPath(paths[i].destination, system_directory, file.name)) {
      return run.Fail(file.copy_failed, win_error::kFilenameExcedRange);
    }
    if (!platform.FileExists(paths[i].source)) return run.FailWithLastError(file.copy_failed);
  }
  if (!JoinPath(installer.destination, system_directory, kInstallerCopyFile)) {
    return run.Fail(kCopyInstallerFailed, win_error::kFilenameExcedRange);
  }
  return 0;
}

// Paths compared as Windows does, without regard to ASCII case.
bool SamePath(const char16_t* a, const char16_t* b) {
  const auto fold = [](char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
  };
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

// The installer's copy in the system directory and the entry of the list of
// installed programs whose commands run it: the uninstallation must work
// once the unpacked folder is gone.
std::uint32_t RegisterUninstaller(Platform& platform, Run& run, const CopyPaths& installer) {
  // The copy itself, run again, is already in place.
  if (!SamePath(installer.source, installer.destination) &&
      !platform.CopyFileOver(installer.source, installer.destination)) {
    return run.FailWithLastError(kCopyInstallerFailed);
  }
  const Text command = u"\"" + Text(installer.destination) + u"\" /uninstall";
  const Text quiet_command = command + u" /quiet";
  const UninstallEntry entry{kPrinterName, kVersionText, kPublisherName, command.c_str(),
                             quiet_command.c_str()};
  if (!platform.WriteUninstallEntry(entry)) return run.FailWithLastError(kUninstallEntryFailed);
  return 0;
}

}  // namespace

std::ptrdiff_t FindLastUnit(const char16_t* text, char16_t unit) {
  std::ptrdiff_t at = static_cast<std::ptrdiff_t>(TextLength(text));
  while (at > 0) {
    --at;
    if (text[at] == unit) return at;
  }
  return -1;
}

std::uint32_t RunInstallation(const Options& options) {
  Platform& platform = CurrentPlatform();
  // The 64-bit spooler would never load a 32-bit monitor: refuse before
  // anything is touched.
  if (platform.Is32BitOn64BitWindows()) {
    Tell(0, kWrongPackage, kBoxOk);
    return win_error::kExeMachineTypeMismatch;
  }

  Records records;
  PrepareRecords(records);
  Run run(platform);

  Settings given = options.settings;
  if (!options.password_file.empty()) {
    std::string content;
    if (!platform.ReadWholeFile(options.password_file.c_str(), content)) {
      return run.FailWithLastError(kReadPasswordFailed);
    }
    Put(given, kPasswordValue, FirstLine(content));
  }

  if (!Quiet()) {
    platform.PrepareProgressBar();
    // The window comes up on its own; the installation does not wait for
    // it, only a box does.
    ProgressWindowPending.store(true);
    if (platform.StartThread(ThreadRoutine::kProgressWindow) == 0) {
      ProgressWindowPending.store(false);
      return run.FailWithLastError(kCreateThreadFailed);
    }
  }

  // A stopped spooler answers no enumeration.
  const char16_t* spooler_failure = nullptr;
  std::uint32_t code = StartSpoolerIfStopped(&spooler_failure);
  if (code != 0) return run.Fail(spooler_failure, code);

  Names drivers;
  if (!platform.ListDrivers(kEnvironment, drivers)) {
    return run.FailWithLastError(kEnumDriversFailed);
  }
  Names printers;
  if (!platform.ListPrinters(printers)) return run.FailWithLastError(kEnumPrintersFailed);
  const bool printer_present = Listed(printers, kPrinterName);

  if (!Listed(drivers, kDriverName)) {
    Failure legacy{};
    if (!InstallLegacyDriver(platform, records.driver, legacy)) {
      // The platform's own PostScript driver instead; when that cannot be
      // had either, the legacy step's failure is the one to read.
      if (!Listed(drivers, kClassDriverName) &&
          !platform.InstallDriverFromStore(kClassDriverName, kEnvironment)) {
        return run.Fail(legacy);
      }
      records.printer.driver = kClassDriverName;
    }
  }

  CopyPaths paths[kShippedCount];
  CopyPaths installer{};
  code = PrepareCopies(platform, run, paths, installer);
  if (code != 0) return code;

  Names monitors;
  if (!platform.ListMonitors(monitors)) return run.FailWithLastError(kEnumMonitorsFailed);
  Settings settings;
  code = KeepStoredSettings(platform, run, Listed(monitors, kMonitorName), settings);
  if (code != 0) return code;
  for (const auto& setting : given) Put(settings, setting.first, setting.second);

  code = RemoveOldMonitor(platform, run, records, monitors, printer_present);
  if (code != 0) return code;

  // The old monitor, if any, is deleted, so no spooler holds its library.
  for (std::size_t i = 0; i < kShippedCount; ++i) {
    if (!platform.CopyFileOver(paths[i].source, paths[i].destination)) {
      return run.FailWithLastError(kShippedFiles[i].copy_failed);
    }
  }

  // Before the monitor can log anything; a re-install finds the source there.
  if (!platform.RegisterEventLogSource(kEventSourceName, paths[kMessageFileIndex].destination)) {
    return run.FailWithLastError(kEventLogFailed);
  }
  // Before the monitor: from here on there is something to remove.
  if (!options.no_apps_entry) {
    code = RegisterUninstaller(platform, run, installer);
    if (code != 0) return code;
  }

  if (!platform.AddMonitor(records.monitor)) return run.FailWithLastError(kAddMonitorFailed);
  if (!platform.ProtectMonitorKey()) return run.FailWithLastError(kProtectKeyFailed);
  // Only now, under the key's own access list, the password.
  for (const auto& setting : settings) {
    if (!platform.WriteMonitorValue(setting.first.c_str(), setting.second.c_str())) {
      return run.FailWithLastError(kWriteSettingFailed);
    }
  }
  if (!platform.RemoveOwnFile(kKeptSettingsFile)) return run.FailWithLastError(kDeleteFileFailed);

  // The bar stands still while the printer is added; after a failure here
  // it stays so.
  run.Pause();
  const Handle printer = platform.AddPrinter(records.printer);
  if (printer == 0) return run.FailWithLastError(kAddPrinterFailed);
  run.Resume();
  if (!platform.ClosePrinter(printer)) return run.FailWithLastError(kClosePrinterFailed);

  RestartSpoolerService();  // goes on whatever the restart gave

  run.Pause();
  const Handle progress = ProgressWindowHandle.load();
  Tell(progress != 0 ? progress : platform.TopWindow(), kSuccessMessage,
       kBoxOk | kBoxInformation | kBoxAboveProgress);
  return 0;
}

std::uint32_t RunUninstallation() {
  Platform& platform = CurrentPlatform();
  // A 32-bit program would reach the 32-bit view of the system directory.
  if (platform.Is32BitOn64BitWindows()) {
    Tell(0, kWrongPackage, kBoxOk);
    return win_error::kExeMachineTypeMismatch;
  }
  Records records;
  PrepareRecords(records);
  Run run(platform);

  const char16_t* spooler_failure = nullptr;
  std::uint32_t code = StartSpoolerIfStopped(&spooler_failure);
  if (code != 0) return run.Fail(spooler_failure, code);

  Names printers;
  if (!platform.ListPrinters(printers)) return run.FailWithLastError(kEnumPrintersFailed);
  if (Listed(printers, kPrinterName)) {
    code = RemovePrinter(platform, run);
    if (code != 0) return code;
  }
  Names monitors;
  if (!platform.ListMonitors(monitors)) return run.FailWithLastError(kEnumMonitorsFailed);
  code = RemoveOldMonitor(platform, run, records, monitors, false);
  if (code != 0) return code;
  // The spooler deletes the key with the monitor; one left from a monitor
  // that was never registered goes too.
  if (!platform.DeleteMonitorKey()) return run.FailWithLastError(kDeleteKeyFailed);

  char16_t system_directory[kPathUnits] = {};
  code = SystemDirectoryPath(platform, run, system_directory);
  if (code != 0) return code;
  const char16_t* const removed[] = {kShippedFiles[0].name, kShippedFiles[1].name,
                                     kShippedFiles[2].name, kInstallerCopyFile};
  static_assert(kShippedCount == 3);
  for (const char16_t* name : removed) {
    char16_t path[kPathUnits] = {};
    if (!JoinPath(path, system_directory, name)) {
      return run.Fail(kDeleteFileFailed, win_error::kFilenameExcedRange);
    }
    if (!platform.RemoveFile(path)) return run.FailWithLastError(kDeleteFileFailed);
  }
  if (!platform.UnregisterEventLogSource(kEventSourceName)) {
    return run.FailWithLastError(kEventLogFailed);
  }
  if (!platform.RemoveOwnFile(kKeptSettingsFile)) return run.FailWithLastError(kDeleteFileFailed);
  if (!platform.RemoveUninstallEntry()) return run.FailWithLastError(kDeleteKeyFailed);

  Tell(0, kUninstallSuccessMessage, kBoxOk | kBoxInformation);
  return 0;
}

std::uint32_t RunCommandLine(const std::vector<Text>& arguments) {
  Options options;
  Text error;
  const bool parsed = ParseCommandLine(arguments, options, error);
  SetQuiet(options.quiet);
  if (options.quiet) {
    // What was asked, for the log: the switches and the values of the
    // settings, which hold no password (that comes from a file); a text
    // that is no setting's value stays out.
    Text asked = u"install.exe";
    bool value_next = false;
    for (const Text& argument : arguments) {
      const bool is_switch = !argument.empty() && (argument[0] == u'/' || argument[0] == u'-');
      if (is_switch || value_next) asked += u" " + argument;
      value_next = is_switch && TakesValue(argument);
    }
    Tell(0, asked.c_str(), kBoxOk);
  }
  if (!parsed) {
    Tell(0, (error + u"\n" + kUsageText).c_str(), kBoxOk);
    return kUsageErrorStatus;
  }
  if (options.usage) {
    Tell(0, kUsageText, kBoxOk | kBoxInformation);
    return 0;
  }
  return options.uninstall ? RunUninstallation() : RunInstallation(options);
}

}  // namespace telvor::installer
