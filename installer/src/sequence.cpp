#include "sequence.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "progress.h"
#include "report.h"
#include "restart.h"
#include "telvor_common/names.h"
#include "telvor_common/text.h"

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
constexpr std::uint32_t kNamesOnlyLevel = 1;  // DRIVER_INFO_1, MONITOR_INFO_1
constexpr std::uint32_t kPrinterInfo4Level = 4;
constexpr std::uint32_t kDriverDirectoryLevel = 1;
constexpr std::uint32_t kPrinterEnumLocal = 2;
constexpr std::uint32_t kInfStyleWin4 = 2;
constexpr std::uint32_t kDriverDirectoryId = 66000;
constexpr std::uint32_t kSpCopyNoOverwrite = 8;
constexpr std::uint32_t kPrinterAllAccess = 0xF000C;

constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorFilenameExcedRange = 206;

constexpr std::size_t kDependentFilesUnits = 1000 / sizeof(char16_t);
constexpr std::size_t kDriverDirectoryUnits = 500 / sizeof(char16_t);
constexpr std::size_t kPathUnits = 256;

// The fixed records handed to the spooler.
struct Records {
  // A list of names closed by an empty one: the zero fill ends it.
  char16_t dependent_files[kDependentFilesUnits];
  DriverInfo3 driver;
  PrinterInfo2 printer;
  MonitorInfo2 monitor;
  PrinterDefaults old_printer_access;
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

  std::memset(&r.printer, 0, sizeof r.printer);
  r.printer.printer_name = kPrinterName;
  r.printer.port_name = kPortName;
  r.printer.driver_name = kDriverName;
  r.printer.print_processor = kPrintProcessor;

  r.monitor.name = kMonitorName;
  r.monitor.environment = kEnvironment;
  r.monitor.dll_name = kMonitorLibraryFile;

  r.old_printer_access.data_type = nullptr;
  r.old_printer_access.dev_mode = nullptr;
  r.old_printer_access.desired_access = kPrinterAllAccess;
}

bool SameName(const char16_t* found, const char16_t* wanted) {
  return found != nullptr && TextView(found) == TextView(wanted);
}

// The records of one enumeration, in a heap area of the size the platform
// asked for.
struct RecordList {
  std::unique_ptr<unsigned char[]> area;
  std::uint32_t count = 0;

  template <typename Record>
  Record At(std::uint32_t index) const {
    Record record;
    std::memcpy(&record, area.get() + index * sizeof(Record), sizeof(Record));
    return record;
  }
};

// Asks for the size the list needs, then enumerates into an area of exactly
// that size. 0, or the code of a failure already shown with `failure`.
template <typename Record, typename Enumerate>
std::uint32_t EnumerateRecords(InstallerOperations& ops, Enumerate enumerate,
                               const char16_t* failure, RecordList& list) {
  std::uint32_t needed = 0;
  std::uint32_t returned = 0;
  enumerate(nullptr, 0, &needed, &returned);  // only the size matters
  const std::uint32_t size = needed;
  list.area.reset(new (std::nothrow) unsigned char[size]);
  if (!list.area) return ReportCode(ops, failure, kErrorNotEnoughMemory);
  returned = 0;
  if (!enumerate(list.area.get(), size, &needed, &returned)) {
    return ReportLastError(ops, failure);
  }
  // Never read past the area, whatever count comes back.
  list.count = std::min<std::uint32_t>(returned, static_cast<std::uint32_t>(size / sizeof(Record)));
  return 0;
}

// Looks for `wanted` among the names of an enumeration, all of them.
template <typename Record, typename Enumerate>
std::uint32_t ScanFor(InstallerOperations& ops, Enumerate enumerate, const char16_t* failure,
                      const char16_t* const Record::*name, const char16_t* wanted, bool& found) {
  RecordList list;
  const std::uint32_t code = EnumerateRecords<Record>(ops, enumerate, failure, list);
  if (code != 0) return code;
  for (std::uint32_t i = 0; i < list.count; ++i) {
    if (SameName(list.At<Record>(i).*name, wanted)) found = true;
  }
  return 0;
}

// Installs the driver's files from the INF into the printer-driver directory
// and adds the driver.
std::uint32_t InstallDriver(InstallerOperations& ops, const DriverInfo3& driver) {
  char16_t directory[kDriverDirectoryUnits] = {};
  std::uint32_t needed = 0;
  if (!ops.GetPrinterDriverDirectoryW(kEnvironment, kDriverDirectoryLevel,
                                      reinterpret_cast<unsigned char*>(directory), sizeof directory,
                                      &needed)) {
    return ReportLastError(ops, kDriverDirectoryFailed);
  }
  directory[kDriverDirectoryUnits - 1] = 0;

  std::uint32_t error_line = 0;
  const Handle inf = ops.SetupOpenInfFileW(kDriverInf, kInfClass, kInfStyleWin4, &error_line);
  if (inf == kInvalidHandle) return ReportLastError(ops, kOpenInfFailed);

  Handle queue = kInvalidHandle;
  // A failed run releases the INF and the queue before it reports.
  auto fail = [&](const char16_t* failure) {
    const std::uint32_t code = ops.GetLastError();
    if (queue != kInvalidHandle) ops.SetupCloseFileQueue(queue);
    ops.SetupCloseInfFile(inf);
    return ReportCode(ops, failure, code);
  };

  if (!ops.SetupSetDirectoryIdW(inf, kDriverDirectoryId, directory)) {
    return fail(kSetDirectoryFailed);
  }
  queue = ops.SetupOpenFileQueue();
  if (queue == kInvalidHandle) return fail(kOpenQueueFailed);
  if (!ops.SetupInstallFilesFromInfSectionW(inf, inf, queue, kInfSection, nullptr,
                                            kSpCopyNoOverwrite)) {
    return fail(kQueueFilesFailed);
  }
  const Handle owner = ops.GetTopWindow();
  const Handle context = ops.SetupInitDefaultQueueCallback(owner);
  if (context == 0) return fail(kQueueContextFailed);
  if (!ops.SetupCommitFileQueueW(owner, queue, context)) return fail(kCommitQueueFailed);
  ops.SetupCloseFileQueue(queue);
  ops.SetupCloseInfFile(inf);

  if (!ops.AddPrinterDriverW(driver)) return ReportLastError(ops, kAddDriverFailed);
  return 0;
}

// Removes every registration of the monitor, and the printer with it when
// there is one.
std::uint32_t RemoveOldMonitor(InstallerOperations& ops, const Records& records,
                               bool printer_present) {
  RecordList list;
  const std::uint32_t code = EnumerateRecords<MonitorInfo1>(
      ops,
      [&](unsigned char* area, std::uint32_t size, std::uint32_t* needed, std::uint32_t* returned) {
        return ops.EnumMonitorsW(kNamesOnlyLevel, area, size, needed, returned);
      },
      kEnumMonitorsFailed, list);
  if (code != 0) return code;

  // The walk covers the list as it was taken, before any deletion.
  for (std::uint32_t i = 0; i < list.count; ++i) {
    if (!SameName(list.At<MonitorInfo1>(i).name, records.monitor.name)) continue;
    if (printer_present) {
      Handle printer = 0;
      if (!ops.OpenPrinterW(kPrinterName, &printer, records.old_printer_access)) {
        return ReportLastError(ops, kOpenPrinterFailed);
      }
      const bool deleted = ops.DeletePrinter(printer);
      const std::uint32_t delete_error = deleted ? 0 : ops.GetLastError();
      // A printer marked for deletion goes only when its last handle closes.
      ops.ClosePrinter(printer);
      if (!deleted) return ReportCode(ops, kDeletePrinterFailed, delete_error);
    }
    RestartSpoolerService(ops);  // goes on whatever the restart gave
    if (!ops.DeleteMonitorW(records.monitor.environment, records.monitor.name)) {
      return ReportLastError(ops, kDeleteMonitorFailed);
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
std::uint32_t CopyLibrary(InstallerOperations& ops, const char16_t* system_directory,
                          const char16_t* library, const char16_t* failure) {
  char16_t directory[kPathUnits] = {};
  const std::uint32_t length = ops.GetModuleFileNameW(directory, kPathUnits);
  // A full area means the path was cut.
  if (length >= kPathUnits) return ReportCode(ops, failure, kErrorFilenameExcedRange);
  directory[length] = 0;
  // Keep the directory and its backslash; with no backslash the library is
  // taken from the current directory.
  directory[FindLastUnit(directory, kPathSeparator) + 1] = 0;

  char16_t source[kPathUnits];
  char16_t destination[kPathUnits];
  if (!JoinPath(source, directory, library) || !JoinPath(destination, system_directory, library)) {
    return ReportCode(ops, failure, kErrorFilenameExcedRange);
  }
  if (!ops.CopyFileW(source, destination, false)) return ReportLastError(ops, failure);
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

std::uint32_t RunInstallation(InstallerOperations& ops) {
  Records records;
  PrepareRecords(records);

  ops.InitCommonControlsEx(kIccProgressClass);
  // The window comes up on its own; the installation does not wait for it.
  if (ops.CreateThread(ThreadRoutine::kProgressWindow) == 0) {
    return ReportLastError(ops, kCreateThreadFailed);
  }

  bool driver_present = false;
  std::uint32_t code = ScanFor<DriverInfo1>(
      ops,
      [&](unsigned char* area, std::uint32_t size, std::uint32_t* needed, std::uint32_t* returned) {
        return ops.EnumPrinterDriversW(kEnvironment, kNamesOnlyLevel, area, size, needed, returned);
      },
      kEnumDriversFailed, &DriverInfo1::name, kDriverName, driver_present);
  if (code != 0) return code;

  bool printer_present = false;
  code = ScanFor<PrinterInfo4>(
      ops,
      [&](unsigned char* area, std::uint32_t size, std::uint32_t* needed, std::uint32_t* returned) {
        return ops.EnumPrintersW(kPrinterEnumLocal, kPrinterInfo4Level, area, size, needed,
                                 returned);
      },
      kEnumPrintersFailed, &PrinterInfo4::printer_name, kPrinterName, printer_present);
  if (code != 0) return code;

  if (!driver_present) {
    code = InstallDriver(ops, records.driver);
    if (code != 0) return code;
  }

  code = RemoveOldMonitor(ops, records, printer_present);
  if (code != 0) return code;

  char16_t system_directory[kPathUnits] = {};
  const std::uint32_t length = ops.GetSystemDirectoryW(system_directory, kPathUnits);
  if (length == 0) return ReportLastError(ops, kSystemDirectoryFailed);
  // Room for the backslash and the terminator.
  if (length + 2 > kPathUnits) {
    return ReportCode(ops, kSystemDirectoryFailed, kErrorFilenameExcedRange);
  }
  system_directory[length] = kPathSeparator;
  system_directory[length + 1] = 0;

  code = CopyLibrary(ops, system_directory, records.monitor.dll_name, kCopyMonitorFailed);
  if (code != 0) return code;
  code = CopyLibrary(ops, system_directory, kFaxLibraryFile, kCopyFaxLibraryFailed);
  if (code != 0) return code;

  if (!ops.AddMonitorW(records.monitor)) return ReportLastError(ops, kAddMonitorFailed);

  // The bar stands still while the printer is added; after a failure here
  // it stays so.
  PauseAnimation(ops);
  const Handle printer = ops.AddPrinterW(records.printer);
  if (printer == 0) return ReportLastError(ops, kAddPrinterFailed);
  ResumeAnimation(ops);
  if (!ops.ClosePrinter(printer)) return ReportLastError(ops, kClosePrinterFailed);

  RestartSpoolerService(ops);  // goes on whatever the restart gave

  PauseAnimation(ops);
  ops.MessageBoxW(ops.GetTopWindow(), kSuccessMessage, kInstallCaption, kMbOk | kMbIconInformation);
  return 0;
}

}  // namespace telvor::installer
