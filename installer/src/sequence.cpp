#include "sequence.h"

#include <cstring>

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
const char16_t kAddMonitorFailed[] = u"AddMonitor error %d\n";
const char16_t kAddPrinterFailed[] = u"AddPrinter error %d\n";
const char16_t kClosePrinterFailed[] = u"ClosePrinter error %d\n";

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

// Installs the driver's files from the INF into the printer-driver directory
// and adds the driver.
std::uint32_t InstallDriver(Platform& platform, const DriverRecord& driver) {
  char16_t directory[kDriverDirectoryBytes / sizeof(char16_t)] = {};
  if (!platform.DriverDirectory(kEnvironment, directory, sizeof directory)) {
    return ReportLastError(kDriverDirectoryFailed);
  }
  directory[kDriverDirectoryBytes / sizeof(char16_t) - 1] = 0;

  const InfCopy copy{kDriverInf,         kInfClass, kInfSection,
                     kDriverDirectoryId, directory, platform.TopWindow()};
  InfStep failed = InfStep::kOpenInf;
  if (!platform.CopyInfFiles(copy, &failed)) return ReportLastError(InfStepFailure(failed));

  if (!platform.AddDriver(driver)) return ReportLastError(kAddDriverFailed);
  return 0;
}

// Removes every registration of the monitor, and the printer with it when
// there is one.
std::uint32_t RemoveOldMonitor(Platform& platform, const Records& records, bool printer_present) {
  Names monitors;
  if (!platform.ListMonitors(monitors)) return ReportLastError(kEnumMonitorsFailed);

  // The walk covers the list as it was taken, before any deletion.
  for (const Text& name : monitors) {
    if (name != records.monitor.name) continue;
    if (printer_present) {
      const Handle printer = platform.OpenPrinterToDelete(kPrinterName);
      if (printer == 0) return ReportLastError(kOpenPrinterFailed);
      const bool deleted = platform.DeletePrinter(printer);
      const std::uint32_t delete_error = deleted ? 0 : platform.LastError();
      // A printer marked for deletion goes only when its last handle closes.
      platform.ClosePrinter(printer);
      if (!deleted) return ReportCode(kDeletePrinterFailed, delete_error);
    }
    RestartSpoolerService();  // goes on whatever the restart gave
    if (!platform.DeleteMonitor(records.monitor.environment, records.monitor.name)) {
      return ReportLastError(kDeleteMonitorFailed);
    }
  }
  return 0;
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

// Copies `library` from the installer's own directory into the system
// directory (which ends in a backslash), overwriting an older copy.
std::uint32_t CopyLibrary(Platform& platform, const char16_t* system_directory,
                          const char16_t* library, const char16_t* failure) {
  char16_t directory[kPathUnits] = {};
  const std::uint32_t length = platform.ProgramPath(directory, kPathUnits);
  // A full area means the path was cut.
  if (length >= kPathUnits) return ReportCode(failure, win_error::kFilenameExcedRange);
  directory[length] = 0;
  // Keep the directory and its backslash; with no backslash the library is
  // taken from the current directory.
  directory[FindLastUnit(directory, kPathSeparator) + 1] = 0;

  char16_t source[kPathUnits];
  char16_t destination[kPathUnits];
  if (!JoinPath(source, directory, library) || !JoinPath(destination, system_directory, library)) {
    return ReportCode(failure, win_error::kFilenameExcedRange);
  }
  if (!platform.CopyFileOver(source, destination)) return ReportLastError(failure);
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

std::uint32_t RunInstallation() {
  Platform& platform = CurrentPlatform();
  Records records;
  PrepareRecords(records);

  platform.PrepareProgressBar();
  // The window comes up on its own; the installation does not wait for it.
  if (platform.StartThread(ThreadRoutine::kProgressWindow) == 0) {
    return ReportLastError(kCreateThreadFailed);
  }

  Names drivers;
  if (!platform.ListDrivers(kEnvironment, drivers)) return ReportLastError(kEnumDriversFailed);
  const bool driver_present = Listed(drivers, kDriverName);

  Names printers;
  if (!platform.ListPrinters(printers)) return ReportLastError(kEnumPrintersFailed);
  const bool printer_present = Listed(printers, kPrinterName);

  std::uint32_t code = 0;
  if (!driver_present) {
    code = InstallDriver(platform, records.driver);
    if (code != 0) return code;
  }

  code = RemoveOldMonitor(platform, records, printer_present);
  if (code != 0) return code;

  char16_t system_directory[kPathUnits] = {};
  const std::uint32_t length = platform.SystemDirectory(system_directory, kPathUnits);
  if (length == 0) return ReportLastError(kSystemDirectoryFailed);
  // Room for the backslash and the terminator.
  if (length + 2 > kPathUnits) {
    return ReportCode(kSystemDirectoryFailed, win_error::kFilenameExcedRange);
  }
  system_directory[length] = kPathSeparator;
  system_directory[length + 1] = 0;

  code = CopyLibrary(platform, system_directory, records.monitor.library, kCopyMonitorFailed);
  if (code != 0) return code;
  code = CopyLibrary(platform, system_directory, kFaxLibraryFile, kCopyFaxLibraryFailed);
  if (code != 0) return code;

  if (!platform.AddMonitor(records.monitor)) return ReportLastError(kAddMonitorFailed);

  // The bar stands still while the printer is added; after a failure here
  // it stays so.
  PauseAnimation();
  const Handle printer = platform.AddPrinter(records.printer);
  if (printer == 0) return ReportLastError(kAddPrinterFailed);
  ResumeAnimation();
  if (!platform.ClosePrinter(printer)) return ReportLastError(kClosePrinterFailed);

  RestartSpoolerService();  // goes on whatever the restart gave

  PauseAnimation();
  platform.ShowMessage(platform.TopWindow(), kSuccessMessage, kInstallCaption,
                       kBoxOk | kBoxInformation);
  return 0;
}

}  // namespace telvor::installer
