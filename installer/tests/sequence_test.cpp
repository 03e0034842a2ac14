#include "sequence.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_operations.h"
#include "progress.h"

namespace telvor::installer {
namespace {

using Calls = std::vector<std::string>;

const Text kDriver = u"HP LaserJet 4/4M PS";
const Text kPrinter = u"Telvor Printer";
const Text kMonitor = u"TelvorMon";

class SequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressBarHandle = 0;
    AnimationThreadHandle = 0;
    // The machine's own spooler has a few entries of its own.
    ops.drivers = {u"Microsoft XPS Document Writer"};
    ops.printers = {u"Office"};
    ops.monitors = {u"Local Port", u"Standard TCP/IP Port"};
  }

  // The log entries of one call.
  std::vector<std::string> Entries(const std::string& call) const {
    std::vector<std::string> found;
    for (const auto& entry : ops.log) {
      if (entry == call || entry.rfind(call + " ", 0) == 0) found.push_back(entry);
    }
    return found;
  }

  // Calls without the service restart's own.
  Calls MainCalls() const {
    Calls calls;
    for (const auto& call : ops.Calls()) {
      if (call == "OpenSCManagerW" || call == "OpenServiceW" || call == "QueryServiceStatus" ||
          call == "ControlService" || call == "CloseServiceHandle" || call == "GetTickCount") {
        continue;
      }
      calls.push_back(call == "StartServiceW" ? "restart" : call);
    }
    return calls;
  }

  FakeOperations ops;
};

bool Has(const std::vector<Text>& names, const Text& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(SequenceTest, FreshMachine) {
  EXPECT_EQ(RunInstallation(ops), 0u);
  EXPECT_EQ(MainCalls(), (Calls{"InitCommonControlsEx",
                                "CreateThread",
                                "EnumPrinterDriversW",
                                "EnumPrinterDriversW",
                                "EnumPrintersW",
                                "EnumPrintersW",
                                "GetPrinterDriverDirectoryW",
                                "SetupOpenInfFileW",
                                "SetupSetDirectoryIdW",
                                "SetupOpenFileQueue",
                                "SetupInstallFilesFromInfSectionW",
                                "GetTopWindow",
                                "SetupInitDefaultQueueCallback",
                                "SetupCommitFileQueueW",
                                "SetupCloseFileQueue",
                                "SetupCloseInfFile",
                                "AddPrinterDriverW",
                                "EnumMonitorsW",
                                "EnumMonitorsW",
                                "GetSystemDirectoryW",
                                "GetModuleFileNameW",
                                "CopyFileW",
                                "GetModuleFileNameW",
                                "CopyFileW",
                                "AddMonitorW",
                                "AddPrinterW",
                                "ClosePrinter",
                                "restart",
                                "GetTopWindow",
                                "MessageBoxW"}));

  EXPECT_EQ(ops.log[0], "InitCommonControlsEx 0x20");
  EXPECT_EQ(ops.log[1], "CreateThread window");
  EXPECT_EQ(Entries("GetPrinterDriverDirectoryW"),
            Calls{"GetPrinterDriverDirectoryW Windows NT x86 level 1 size 500"});
  EXPECT_EQ(Entries("SetupOpenInfFileW"), Calls{"SetupOpenInfFileW ntprint.inf Printer style 2"});
  EXPECT_EQ(
      Entries("SetupSetDirectoryIdW"),
      Calls{"SetupSetDirectoryIdW 0x500 66000 C:\\WINDOWS\\System32\\spool\\DRIVERS\\W32X86"});
  EXPECT_EQ(
      Entries("SetupInstallFilesFromInfSectionW"),
      Calls{"SetupInstallFilesFromInfSectionW 0x500 0x500 0x600 HP4M6_V1.PPD (null) flags 8"});
  EXPECT_EQ(Entries("SetupInitDefaultQueueCallback"), Calls{"SetupInitDefaultQueueCallback 0x900"});
  EXPECT_EQ(Entries("SetupCommitFileQueueW"), Calls{"SetupCommitFileQueueW 0x900 0x600 0x700"});
  EXPECT_EQ(Entries("SetupCloseFileQueue"), Calls{"SetupCloseFileQueue 0x600"});
  EXPECT_EQ(Entries("SetupCloseInfFile"), Calls{"SetupCloseInfFile 0x500"});
  EXPECT_EQ(Entries("CopyFileW"),
            (Calls{"CopyFileW C:\\Setup\\quor.dll -> C:\\WINDOWS\\system32\\quor.dll overwrite",
                   "CopyFileW C:\\Setup\\telvor.dll -> C:\\WINDOWS\\system32\\telvor.dll "
                   "overwrite"}));
  EXPECT_EQ(Entries("ClosePrinter"), Calls{"ClosePrinter 0x300"});
  EXPECT_EQ(ops.restarts, 1);

  ASSERT_EQ(ops.boxes.size(), 1u);
  EXPECT_EQ(ops.boxes[0].text, "Install Success!");
  EXPECT_EQ(ops.boxes[0].caption, "Install");
  EXPECT_EQ(ops.boxes[0].owner, FakeOperations::kTopWindow);
  EXPECT_EQ(ops.boxes[0].type, 0x40u);
  EXPECT_TRUE(Has(ops.drivers, kDriver));
  EXPECT_TRUE(Has(ops.monitors, kMonitor));
  EXPECT_TRUE(Has(ops.printers, kPrinter));
}

TEST_F(SequenceTest, RecordsHandedToTheSpooler) {
  ASSERT_EQ(RunInstallation(ops), 0u);

  const DriverInfo3& d = ops.added_driver;
  EXPECT_EQ(d.version, 3u);
  EXPECT_EQ(Utf8(d.name), "HP LaserJet 4/4M PS");
  EXPECT_EQ(Utf8(d.environment), "Windows NT x86");
  EXPECT_EQ(Utf8(d.driver_path), "PSCRIPT5.DLL");
  EXPECT_EQ(Utf8(d.data_file), "HP4M6_V1.PPD");
  EXPECT_EQ(Utf8(d.config_file), "PS5UI.DLL");
  EXPECT_EQ(Utf8(d.help_file), "PSCRIPT.HLP");
  EXPECT_EQ(Text(ops.added_dependent_files.begin(), ops.added_dependent_files.end()),
            Text(u"PSCRIPT.NTF\0\0", 13));
  // Present and empty, not absent.
  ASSERT_NE(d.monitor_name, nullptr);
  ASSERT_NE(d.default_data_type, nullptr);
  EXPECT_EQ(d.monitor_name[0], 0);
  EXPECT_EQ(d.default_data_type[0], 0);

  const PrinterInfo2& p = ops.added_printer;
  EXPECT_EQ(Utf8(p.printer_name), "Telvor Printer");
  EXPECT_EQ(Utf8(p.port_name), "FX:");
  EXPECT_EQ(Utf8(p.driver_name), "HP LaserJet 4/4M PS");
  EXPECT_EQ(Utf8(p.print_processor), "WinPrint");
  for (const char16_t* absent : {p.server_name, p.share_name, p.comment, p.location, p.sep_file,
                                 p.data_type, p.parameters}) {
    EXPECT_EQ(absent, nullptr);
  }
  EXPECT_EQ(p.dev_mode, nullptr);
  EXPECT_EQ(p.security_descriptor, nullptr);
  for (const std::uint32_t zero : {p.attributes, p.priority, p.default_priority, p.start_time,
                                   p.until_time, p.status, p.jobs, p.average_ppm}) {
    EXPECT_EQ(zero, 0u);
  }

  EXPECT_EQ(Utf8(ops.added_monitor.name), "TelvorMon");
  EXPECT_EQ(Utf8(ops.added_monitor.environment), "Windows NT x86");
  EXPECT_EQ(Utf8(ops.added_monitor.dll_name), "quor.dll");
  EXPECT_EQ(Entries("EnumPrinterDriversW").front(),
            "EnumPrinterDriversW Windows NT x86 level 1 size 0");
  EXPECT_EQ(Entries("EnumPrintersW").front(), "EnumPrintersW flags 2 level 4 size 0");
}

TEST_F(SequenceTest, DriverStepSkippedWhenTheDriverIsThere) {
  ops.drivers.push_back(kDriver);
  EXPECT_EQ(RunInstallation(ops), 0u);
  for (const char* call :
       {"GetPrinterDriverDirectoryW", "SetupOpenInfFileW", "AddPrinterDriverW"}) {
    EXPECT_EQ(ops.CountOf(call), 0) << call;
  }
}

TEST_F(SequenceTest, RepeatedInstallationReplacesEverythingAndRestartsTwice) {
  ops.drivers.push_back(kDriver);
  ops.printers.push_back(kPrinter);
  ops.monitors.insert(ops.monitors.begin() + 1, kMonitor);
  EXPECT_EQ(RunInstallation(ops), 0u);
  EXPECT_EQ(MainCalls(), (Calls{"InitCommonControlsEx", "CreateThread",
                                "EnumPrinterDriversW",  "EnumPrinterDriversW",
                                "EnumPrintersW",        "EnumPrintersW",
                                "EnumMonitorsW",        "EnumMonitorsW",
                                "OpenPrinterW",         "DeletePrinter",
                                "ClosePrinter",         "restart",
                                "DeleteMonitorW",       "GetSystemDirectoryW",
                                "GetModuleFileNameW",   "CopyFileW",
                                "GetModuleFileNameW",   "CopyFileW",
                                "AddMonitorW",          "AddPrinterW",
                                "ClosePrinter",         "restart",
                                "GetTopWindow",         "MessageBoxW"}));
  EXPECT_EQ(Entries("OpenPrinterW"), Calls{"OpenPrinterW Telvor Printer"});
  EXPECT_EQ(ops.open_defaults.desired_access, 0xF000Cu);
  EXPECT_EQ(ops.open_defaults.data_type, nullptr);
  EXPECT_EQ(ops.open_defaults.dev_mode, nullptr);
  EXPECT_EQ(Entries("DeleteMonitorW"), Calls{"DeleteMonitorW Windows NT x86 TelvorMon"});
  EXPECT_EQ(ops.restarts, 2);
  EXPECT_EQ(ops.boxes.back().text, "Install Success!");
}

TEST_F(SequenceTest, OldMonitorWithoutPrinter) {
  ops.monitors.push_back(kMonitor);
  EXPECT_EQ(RunInstallation(ops), 0u);
  EXPECT_EQ(ops.CountOf("OpenPrinterW") + ops.CountOf("DeletePrinter"), 0);
  EXPECT_EQ(ops.CountOf("DeleteMonitorW"), 1);
  EXPECT_EQ(ops.restarts, 2);
}

TEST_F(SequenceTest, OldPrinterWithoutMonitorMakesAddingThePrinterFail) {
  ops.printers.push_back(kPrinter);
  AnimationThreadHandle = FakeOperations::kAnimationThread;
  EXPECT_EQ(RunInstallation(ops), 1802u);
  EXPECT_EQ(ops.CountOf("OpenPrinterW") + ops.CountOf("DeleteMonitorW"), 0);
  EXPECT_EQ(ops.restarts, 0);
  ASSERT_EQ(ops.boxes.size(), 1u);
  EXPECT_EQ(ops.boxes[0].text, "AddPrinter error 1802\n");
  // The new monitor stays registered, the animation paused.
  EXPECT_TRUE(Has(ops.monitors, kMonitor));
  EXPECT_EQ(ops.suspend_count[FakeOperations::kAnimationThread], 1);
}

TEST_F(SequenceTest, NamesDifferingInCaseDoNotCount) {
  ops.drivers.push_back(u"HP LaserJet 4/4M ps");
  ops.printers.push_back(u"telvor printer");
  ops.monitors.push_back(u"TELVORMON");
  EXPECT_EQ(RunInstallation(ops), 0u);
  EXPECT_EQ(ops.CountOf("AddPrinterDriverW"), 1);
  EXPECT_EQ(ops.CountOf("OpenPrinterW") + ops.CountOf("DeleteMonitorW"), 0);
  EXPECT_EQ(ops.restarts, 1);
}

// The monitor list is asked for its size and taken whole, however long.
TEST_F(SequenceTest, MonitorListLargerThan8192Bytes) {
  for (int i = 0; i < 300; ++i) {
    ops.monitors.push_back(u"Vendor Port Monitor " + FromUtf8(std::to_string(i)));
  }
  ops.monitors.push_back(kMonitor);
  EXPECT_EQ(RunInstallation(ops), 0u);
  const auto scans = Entries("EnumMonitorsW");
  ASSERT_EQ(scans.size(), 2u);
  EXPECT_EQ(scans[0], "EnumMonitorsW level 1 size 0");
  const std::size_t size = std::stoul(scans[1].substr(scans[1].rfind(' ') + 1));
  EXPECT_GT(size, 8192u);
  EXPECT_EQ(ops.CountOf("DeleteMonitorW"), 1);
  EXPECT_TRUE(ops.boxes.size() == 1 && ops.boxes[0].text == "Install Success!");
}

TEST_F(SequenceTest, ModulePathCutAfterItsLastBackslash) {
  ops.module_path = u"D:\\fax\\setup\\install.exe";
  ASSERT_EQ(RunInstallation(ops), 0u);
  EXPECT_EQ(Entries("CopyFileW")[1],
            "CopyFileW D:\\fax\\setup\\telvor.dll -> C:\\WINDOWS\\system32\\telvor.dll overwrite");

  FakeOperations bare;
  bare.module_path = u"install.exe";
  ASSERT_EQ(RunInstallation(bare), 0u);
  std::vector<std::string> copies;
  for (const auto& entry : bare.log) {
    if (entry.rfind("CopyFileW ", 0) == 0) copies.push_back(entry);
  }
  EXPECT_EQ(copies, (Calls{"CopyFileW quor.dll -> C:\\WINDOWS\\system32\\quor.dll overwrite",
                           "CopyFileW telvor.dll -> C:\\WINDOWS\\system32\\telvor.dll overwrite"}));
}

TEST(FindLastUnitTest, FindsTheLastOccurrence) {
  EXPECT_EQ(FindLastUnit(u"C:\\a\\b.exe", u'\\'), 4);
  EXPECT_EQ(FindLastUnit(u"\\b.exe", u'\\'), 0);
  EXPECT_EQ(FindLastUnit(u"b.exe", u'\\'), -1);
  EXPECT_EQ(FindLastUnit(u"", u'\\'), -1);
}

TEST_F(SequenceTest, SuspendCountOverASuccessfulRun) {
  ops.monitors.push_back(kMonitor);  // a restart inside the scan too
  AnimationThreadHandle = FakeOperations::kAnimationThread;
  ASSERT_EQ(RunInstallation(ops), 0u);
  Calls around;
  for (const auto& entry : ops.log) {
    if (entry.rfind("SuspendThread", 0) == 0 || entry.rfind("ResumeThread", 0) == 0 ||
        entry.rfind("AddPrinterW", 0) == 0 || entry.rfind("MessageBoxW", 0) == 0 ||
        entry.rfind("StartServiceW", 0) == 0) {
      around.push_back(entry);
    }
  }
  EXPECT_EQ(around, (Calls{"StartServiceW 0xa10", "SuspendThread 1", "AddPrinterW Telvor Printer",
                           "ResumeThread 0", "StartServiceW 0xa10", "SuspendThread 1",
                           "MessageBoxW Install Success!"}));
}

TEST_F(SequenceTest, FailedRestartDoesNotStopTheInstallation) {
  ops.monitors.push_back(kMonitor);
  ops.Fail("OpenSCManagerW", 5);
  EXPECT_EQ(RunInstallation(ops), 0u);
  ASSERT_EQ(ops.boxes.size(), 2u);
  EXPECT_EQ(ops.boxes[0].text, "OpenSCManager error 5\n");
  EXPECT_EQ(ops.boxes[1].text, "Install Success!");
  EXPECT_EQ(ops.restarts, 1);
}

// Every failing step over a machine with an old installation and no driver,
// where each step is reached: its message, its code as the exit status, the
// calls before it made and none after it (but the handles it releases), so
// nothing is undone: a removed old installation stays removed.
TEST_F(SequenceTest, EachFailingStepEndsTheRun) {
  const auto prepare = [](FakeOperations& fake) {
    fake.printers = {kPrinter};
    fake.monitors = {u"Local Port", kMonitor};
  };
  FakeOperations clean;
  prepare(clean);
  ASSERT_EQ(RunInstallation(clean), 0u);
  const Calls full = clean.Calls();

  const struct {
    const char* call;
    int occurrence;
    std::uint32_t code;
    const char* message;
    Calls released;
  } rows[] = {
      {"CreateThread", 1, 8, "CreateThread1 error 8\n", {}},
      {"EnumPrinterDriversW", 2, 1722, "EnumPrinterDrivers error 1722\n", {}},
      {"EnumPrintersW", 2, 1722, "EnumPrinters error 1722\n", {}},
      {"GetPrinterDriverDirectoryW", 1, 5, "GetPrinterDriverDirectory error 5\n", {}},
      {"SetupOpenInfFileW", 1, 0xE0000102, "SetupOpenInfFile error -536870654\n", {}},
      {"SetupSetDirectoryIdW", 1, 87, "SetupSetDirectoryId error 87\n", {"SetupCloseInfFile"}},
      {"SetupOpenFileQueue", 1, 8, "SetupOpenFileQueue error 8\n", {"SetupCloseInfFile"}},
      {"SetupInstallFilesFromInfSectionW",
       1,
       0xE0000102,
       "SetupInstallFilesFromInfSection error -536870654\n",
       {"SetupCloseFileQueue", "SetupCloseInfFile"}},
      {"SetupInitDefaultQueueCallback",
       1,
       8,
       "SetupInitDefaultQueueCallback error 8\n",
       {"SetupCloseFileQueue", "SetupCloseInfFile"}},
      {"SetupCommitFileQueueW",
       1,
       1223,
       "SetupCommitFileQueue error 1223\n",
       {"SetupCloseFileQueue", "SetupCloseInfFile"}},
      {"AddPrinterDriverW", 1, 2, "AddPrinterDriver error 2\n", {}},
      {"EnumMonitorsW", 2, 1722, "EnumMonitors error 1722\n", {}},
      {"OpenPrinterW", 1, 5, "OpenPrinter error 5\n", {}},
      {"DeletePrinter", 1, 5, "DeletePrinter error 5\n", {"ClosePrinter"}},
      {"DeleteMonitorW", 1, 3001, "DeleteMonitor error 3001\n", {}},
      {"GetSystemDirectoryW", 1, 8, "GetSystemDirectory1 error 8\n", {}},
      {"CopyFileW", 1, 2, "CopyFile1 error 2\n", {}},
      {"CopyFileW", 2, 2, "CopyFile2 error 2\n", {}},
      {"AddMonitorW", 1, 3006, "AddMonitor error 3006\n", {}},
      {"AddPrinterW", 1, 1797, "AddPrinter error 1797\n", {}},
      // The first ClosePrinter is the old printer's.
      {"ClosePrinter", 2, 6, "ClosePrinter error 6\n", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    FakeOperations fake;
    prepare(fake);
    fake.Fail(row.call, row.code, row.occurrence);
    EXPECT_EQ(RunInstallation(fake), row.code);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, row.message);
    EXPECT_EQ(fake.boxes[0].caption, "Install");
    EXPECT_EQ(fake.boxes[0].owner, 0u);
    EXPECT_EQ(fake.boxes[0].type, 0u);

    // The successful run's calls up to the failing one, then the releases.
    Calls expected;
    int seen = 0;
    for (const auto& call : full) {
      expected.push_back(call);
      if (call == row.call && ++seen == row.occurrence) break;
    }
    expected.insert(expected.end(), row.released.begin(), row.released.end());
    expected.push_back("MessageBoxW");
    EXPECT_EQ(fake.Calls(), expected);
  }
}

TEST_F(SequenceTest, PathsThatDoNotFitAreRefused) {
  const std::uint32_t too_long = 206;
  const struct {
    Text system_directory;
    std::uint32_t needs;
    Text module_path;
    const char* message;
    int copies;
  } rows[] = {
      // With its backslash the directory would need 257 units.
      {Text(255, u'S'), 0, u"C:\\Setup\\install.exe", "GetSystemDirectory1 error 206\n", 0},
      {u"C:\\WINDOWS\\system32", 300, u"C:\\Setup\\install.exe", "GetSystemDirectory1 error 206\n",
       0},
      // 254 + "\" fits, + "quor.dll" does not.
      {Text(254, u'S'), 0, u"C:\\Setup\\install.exe", "CopyFile1 error 206\n", 0},
      // A module path cut at the area's end.
      {u"C:\\WINDOWS\\system32", 0, Text(300, u'M'), "CopyFile1 error 206\n", 0},
      // 246 units of directory: "quor.dll" fits (255), "telvor.dll" does not (257).
      {u"C:\\WINDOWS\\system32", 0, Text(245, u'M') + u"\\i.exe", "CopyFile2 error 206\n", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    FakeOperations fake;
    fake.system_directory = row.system_directory;
    fake.system_directory_needs = row.needs;
    fake.module_path = row.module_path;
    EXPECT_EQ(RunInstallation(fake), too_long);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, row.message);
    EXPECT_EQ(fake.CountOf("CopyFileW"), row.copies);
    EXPECT_EQ(fake.CountOf("AddMonitorW"), 0);
  }

  // The longest that fits: 255 units with the terminator.
  FakeOperations fits;
  fits.system_directory = Text(244, u'S');
  fits.module_path = Text(244, u'M') + u"\\i.exe";
  EXPECT_EQ(RunInstallation(fits), 0u);
  EXPECT_EQ(fits.CountOf("CopyFileW"), 2);
}

}  // namespace
}  // namespace telvor::installer
