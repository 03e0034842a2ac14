#include "sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "command_line.h"
#include "fake_platform.h"
#include "progress.h"
#include "report.h"

namespace telvor::installer {
namespace {

using Calls = std::vector<std::string>;

const Text kDriver = u"HP LaserJet 4/4M PS";
const Text kPrinter = u"Telvor Printer";
const Text kMonitor = u"TelvorMon";

// The machine's own spooler has a few entries of its own.
void Populate(FakePlatform& fake) {
  fake.drivers = {u"Microsoft XPS Document Writer"};
  fake.printers = {u"Office"};
  fake.monitors = {u"Local Port", u"Standard TCP/IP Port"};
}

class SequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgressBarHandle = 0;
    ProgressWindowHandle = 0;
    ProgressWindowPending = false;
    AnimationThreadHandle = 0;
    SetQuiet(false);
    Populate(fake);
    UsePlatform(&fake);
  }
  void TearDown() override {
    UsePlatform(nullptr);
    SetQuiet(false);
  }

  // Calls without the service restart's own.
  Calls MainCalls() const {
    Calls calls;
    for (const auto& call : fake.Calls()) {
      if (call == "OpenServiceManager" || call == "OpenService" || call == "QueryService" ||
          call == "StopService" || call == "CloseService" || call == "TickCount") {
        continue;
      }
      calls.push_back(call == "StartService" ? "restart" : call);
    }
    return calls;
  }

  FakePlatform fake;
};

bool Has(const Names& names, const Text& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(SequenceTest, FreshMachine) {
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(MainCalls(), (Calls{"Is32BitOn64BitWindows",
                                "PrepareProgressBar",
                                "StartThread",
                                "ListDrivers",
                                "ListPrinters",
                                "DriverDirectory",
                                "TopWindow",
                                "CopyInfFiles",
                                "AddDriver",
                                "SystemDirectory",
                                "ProgramPath",
                                "FileExists",
                                "FileExists",
                                "FileExists",
                                "ListMonitors",
                                "ReadOwnFile",
                                "CopyFileOver",
                                "CopyFileOver",
                                "CopyFileOver",
                                "RegisterEventLogSource",
                                "CopyFileOver",
                                "WriteUninstallEntry",
                                "AddMonitor",
                                "ProtectMonitorKey",
                                "RemoveOwnFile",
                                "AddPrinter",
                                "ClosePrinter",
                                "restart",
                                "TopWindow",
                                "ShowMessage"}));

  EXPECT_EQ(fake.log[2], "StartThread window");
  EXPECT_EQ(fake.Entries("ListDrivers"), Calls{"ListDrivers Windows NT x86"});
  EXPECT_EQ(fake.Entries("DriverDirectory"), Calls{"DriverDirectory Windows NT x86 500"});
  EXPECT_EQ(fake.Entries("CopyInfFiles"),
            Calls{"CopyInfFiles ntprint.inf Printer [HP4M6_V1.PPD] "
                  "66000=C:\\WINDOWS\\System32\\spool\\DRIVERS\\W32X86 owner 0x900"});
  EXPECT_EQ(
      fake.Entries("CopyFileOver"),
      (Calls{"CopyFileOver C:\\Setup\\quor.dll -> C:\\WINDOWS\\system32\\quor.dll",
             "CopyFileOver C:\\Setup\\telvor.dll -> C:\\WINDOWS\\system32\\telvor.dll",
             "CopyFileOver C:\\Setup\\quorprompt.exe -> "
             "C:\\WINDOWS\\system32\\quorprompt.exe",
             "CopyFileOver C:\\Setup\\install.exe -> C:\\WINDOWS\\system32\\telvor-install.exe"}));
  // The event messages are in the monitor library as copied.
  EXPECT_EQ(fake.Entries("RegisterEventLogSource"),
            Calls{"RegisterEventLogSource TelvorMon C:\\WINDOWS\\system32\\quor.dll"});
  EXPECT_EQ(fake.Entries("ClosePrinter"), Calls{"ClosePrinter 0x300"});
  EXPECT_EQ(fake.restarts, 1);

  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text, "Install Success!");
  EXPECT_EQ(fake.boxes[0].caption, "Install");
  EXPECT_EQ(fake.boxes[0].owner, FakePlatform::kTopWindow);
  // Information icon, topmost, brought to the foreground.
  EXPECT_EQ(fake.boxes[0].style, 0x50040u);
  EXPECT_TRUE(Has(fake.drivers, kDriver));
  EXPECT_TRUE(Has(fake.monitors, kMonitor));
  EXPECT_TRUE(Has(fake.printers, kPrinter));
}

TEST_F(SequenceTest, RecordsHandedToTheSpooler) {
  ASSERT_EQ(RunInstallation(), 0u);

  const DriverRecord& d = fake.added_driver;
  EXPECT_EQ(d.version, 3u);
  EXPECT_EQ(Utf8(d.name), "HP LaserJet 4/4M PS");
  EXPECT_EQ(Utf8(d.environment), "Windows NT x86");
  EXPECT_EQ(Utf8(d.driver_path), "PSCRIPT5.DLL");
  EXPECT_EQ(Utf8(d.data_file), "HP4M6_V1.PPD");
  EXPECT_EQ(Utf8(d.config_file), "PS5UI.DLL");
  EXPECT_EQ(Utf8(d.help_file), "PSCRIPT.HLP");
  EXPECT_EQ(Text(fake.added_dependent_files.begin(), fake.added_dependent_files.end()),
            Text(u"PSCRIPT.NTF\0\0", 13));
  // Present and empty, not absent.
  ASSERT_NE(d.monitor_name, nullptr);
  ASSERT_NE(d.default_data_type, nullptr);
  EXPECT_EQ(d.monitor_name[0], 0);
  EXPECT_EQ(d.default_data_type[0], 0);

  const PrinterRecord& p = fake.added_printer;
  EXPECT_EQ(Utf8(p.name), "Telvor Printer");
  EXPECT_EQ(Utf8(p.port), "FX:");
  EXPECT_EQ(Utf8(p.driver), "HP LaserJet 4/4M PS");
  EXPECT_EQ(Utf8(p.print_processor), "WinPrint");

  EXPECT_EQ(Utf8(fake.added_monitor.name), "TelvorMon");
  EXPECT_EQ(Utf8(fake.added_monitor.environment), "Windows NT x86");
  EXPECT_EQ(Utf8(fake.added_monitor.library), "quor.dll");
}

TEST_F(SequenceTest, DriverStepSkippedWhenTheDriverIsThere) {
  fake.drivers.push_back(kDriver);
  EXPECT_EQ(RunInstallation(), 0u);
  for (const char* call : {"DriverDirectory", "CopyInfFiles", "AddDriver"}) {
    EXPECT_EQ(fake.CountOf(call), 0) << call;
  }
}

TEST_F(SequenceTest, RepeatedInstallationReplacesEverythingAndRestartsTwice) {
  fake.drivers.push_back(kDriver);
  fake.printers.push_back(kPrinter);
  fake.monitors.insert(fake.monitors.begin() + 1, kMonitor);
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(MainCalls(), (Calls{"Is32BitOn64BitWindows",
                                "PrepareProgressBar",
                                "StartThread",
                                "ListDrivers",
                                "ListPrinters",
                                "SystemDirectory",
                                "ProgramPath",
                                "FileExists",
                                "FileExists",
                                "FileExists",
                                "ListMonitors",
                                "ReadOwnFile",
                                "ReadMonitorValue",
                                "ReadMonitorValue",
                                "ReadMonitorValue",
                                "ReadMonitorValue",
                                "ReadMonitorValue",
                                "ReadMonitorValue",
                                "OpenPrinterToDelete",
                                "DeletePrinter",
                                "ClosePrinter",
                                "restart",
                                "DeleteMonitor",
                                "CopyFileOver",
                                "CopyFileOver",
                                "CopyFileOver",
                                "RegisterEventLogSource",
                                "CopyFileOver",
                                "WriteUninstallEntry",
                                "AddMonitor",
                                "ProtectMonitorKey",
                                "RemoveOwnFile",
                                "AddPrinter",
                                "ClosePrinter",
                                "restart",
                                "TopWindow",
                                "ShowMessage"}));
  EXPECT_EQ(fake.Entries("OpenPrinterToDelete"), Calls{"OpenPrinterToDelete Telvor Printer"});
  EXPECT_EQ(fake.Entries("DeleteMonitor"), Calls{"DeleteMonitor Windows NT x86 TelvorMon"});
  EXPECT_EQ(fake.restarts, 2);
  EXPECT_EQ(fake.boxes.back().text, "Install Success!");
}

TEST_F(SequenceTest, OldMonitorWithoutPrinter) {
  fake.monitors.push_back(kMonitor);
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(fake.CountOf("OpenPrinterToDelete") + fake.CountOf("DeletePrinter"), 0);
  EXPECT_EQ(fake.CountOf("DeleteMonitor"), 1);
  EXPECT_EQ(fake.restarts, 2);
}

TEST_F(SequenceTest, OldPrinterWithoutMonitorMakesAddingThePrinterFail) {
  fake.printers.push_back(kPrinter);
  AnimationThreadHandle = FakePlatform::kAnimationThread;
  EXPECT_EQ(RunInstallation(), 1802u);
  EXPECT_EQ(fake.CountOf("OpenPrinterToDelete") + fake.CountOf("DeleteMonitor"), 0);
  EXPECT_EQ(fake.restarts, 0);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text, "AddPrinter error 1802\n");
  // The new monitor stays registered, the animation paused.
  EXPECT_TRUE(Has(fake.monitors, kMonitor));
  EXPECT_EQ(fake.suspend_count[FakePlatform::kAnimationThread], 1);
}

TEST_F(SequenceTest, NamesDifferingInCaseDoNotCount) {
  fake.drivers.push_back(u"HP LaserJet 4/4M ps");
  fake.printers.push_back(u"telvor printer");
  fake.monitors.push_back(u"TELVORMON");
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(fake.CountOf("AddDriver"), 1);
  EXPECT_EQ(fake.CountOf("OpenPrinterToDelete") + fake.CountOf("DeleteMonitor"), 0);
  EXPECT_EQ(fake.restarts, 1);
}

// Every name of a long list is looked at, the last one too.
TEST_F(SequenceTest, MonitorAtTheEndOfALongList) {
  for (int i = 0; i < 300; ++i) {
    fake.monitors.push_back(u"Vendor Port Monitor " + FromUtf8(std::to_string(i)));
  }
  fake.monitors.push_back(kMonitor);
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(fake.CountOf("DeleteMonitor"), 1);
  EXPECT_TRUE(fake.boxes.size() == 1 && fake.boxes[0].text == "Install Success!");
}

TEST_F(SequenceTest, ModulePathCutAfterItsLastBackslash) {
  fake.module_path = u"D:\\fax\\setup\\install.exe";
  ASSERT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(fake.Entries("CopyFileOver")[1],
            "CopyFileOver D:\\fax\\setup\\telvor.dll -> C:\\WINDOWS\\system32\\telvor.dll");

  FakePlatform bare;
  UsePlatform(&bare);
  bare.module_path = u"install.exe";
  ASSERT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(bare.Entries("CopyFileOver"),
            (Calls{"CopyFileOver quor.dll -> C:\\WINDOWS\\system32\\quor.dll",
                   "CopyFileOver telvor.dll -> C:\\WINDOWS\\system32\\telvor.dll",
                   "CopyFileOver quorprompt.exe -> C:\\WINDOWS\\system32\\quorprompt.exe",
                   "CopyFileOver install.exe -> C:\\WINDOWS\\system32\\telvor-install.exe"}));
}

TEST(FindLastUnitTest, FindsTheLastOccurrence) {
  EXPECT_EQ(FindLastUnit(u"C:\\a\\b.exe", u'\\'), 4);
  EXPECT_EQ(FindLastUnit(u"\\b.exe", u'\\'), 0);
  EXPECT_EQ(FindLastUnit(u"b.exe", u'\\'), -1);
  EXPECT_EQ(FindLastUnit(u"", u'\\'), -1);
}

TEST_F(SequenceTest, SuspendCountOverASuccessfulRun) {
  fake.monitors.push_back(kMonitor);  // a restart inside the scan too
  AnimationThreadHandle = FakePlatform::kAnimationThread;
  ASSERT_EQ(RunInstallation(), 0u);
  Calls around;
  for (const auto& entry : fake.log) {
    for (const char* call :
         {"SuspendThread", "ResumeThread", "AddPrinter", "ShowMessage", "StartService"}) {
      if (entry.rfind(call, 0) == 0) around.push_back(entry);
    }
  }
  EXPECT_EQ(around, (Calls{"StartService 0xa10", "SuspendThread 1", "AddPrinter Telvor Printer",
                           "ResumeThread 0", "StartService 0xa10", "SuspendThread 1",
                           "ShowMessage Install Success!"}));
}

TEST_F(SequenceTest, FailedRestartDoesNotStopTheInstallation) {
  fake.monitors.push_back(kMonitor);
  fake.Fail("OpenServiceManager", 5, 2);  // the first opening is to start a stopped spooler
  EXPECT_EQ(RunInstallation(), 0u);
  ASSERT_EQ(fake.boxes.size(), 2u);
  EXPECT_EQ(fake.boxes[0].text, "OpenSCManager error 5\n");
  EXPECT_EQ(fake.boxes[1].text, "Install Success!");
  EXPECT_EQ(fake.restarts, 1);
}

// Every failing step over a machine with an old installation and no driver,
// where each step is reached: its message, its code as the exit status, the
// calls before it made and none after it (but the handle it releases and,
// after the legacy driver, the attempt at the class driver), so nothing is
// undone.
TEST_F(SequenceTest, EachFailingStepEndsTheRun) {
  const auto prepare = [](FakePlatform& platform) {
    platform.printers = {kPrinter};
    platform.monitors = {u"Local Port", kMonitor};
    platform.Fail("InstallDriverFromStore", 127);  // a spooler without a driver store
  };
  FakePlatform clean;
  prepare(clean);
  UsePlatform(&clean);
  ASSERT_EQ(RunInstallation(), 0u);
  const Calls full = clean.Calls();

  const struct {
    const char* call;
    int occurrence;
    InfStep inf_step;
    std::uint32_t code;
    const char* message;
    Calls released;
  } rows[] = {
      {"StartThread", 1, {}, 8, "CreateThread1 error 8\n", {}},
      {"ListDrivers", 1, {}, 1722, "EnumPrinterDrivers error 1722\n", {}},
      {"ListPrinters", 1, {}, 1722, "EnumPrinters error 1722\n", {}},
      {"DriverDirectory", 1, {}, 5, "GetPrinterDriverDirectory error 5\n", {}},
      {"CopyInfFiles", 1, InfStep::kOpenInf, 0xE0000102, "SetupOpenInfFile error -536870654\n", {}},
      {"CopyInfFiles", 1, InfStep::kSetDirectory, 87, "SetupSetDirectoryId error 87\n", {}},
      {"CopyInfFiles", 1, InfStep::kOpenQueue, 8, "SetupOpenFileQueue error 8\n", {}},
      {"CopyInfFiles",
       1,
       InfStep::kQueueFiles,
       0xE0000102,
       "SetupInstallFilesFromInfSection error -536870654\n",
       {}},
      {"CopyInfFiles", 1, InfStep::kQueueContext, 8, "SetupInitDefaultQueueCallback error 8\n", {}},
      {"CopyInfFiles", 1, InfStep::kCommit, 1223, "SetupCommitFileQueue error 1223\n", {}},
      {"AddDriver", 1, {}, 2, "AddPrinterDriver error 2\n", {}},
      {"SystemDirectory", 1, {}, 8, "GetSystemDirectory1 error 8\n", {}},
      {"FileExists", 1, {}, 5, "CopyFile1 error 5\n", {}},
      {"FileExists", 2, {}, 5, "CopyFile2 error 5\n", {}},
      {"FileExists", 3, {}, 5, "CopyFile3 error 5\n", {}},
      {"ListMonitors", 1, {}, 1722, "EnumMonitors error 1722\n", {}},
      {"OpenPrinterToDelete", 1, {}, 5, "OpenPrinter error 5\n", {}},
      {"DeletePrinter", 1, {}, 5, "DeletePrinter error 5\n", {"ClosePrinter"}},
      {"DeleteMonitor", 1, {}, 3001, "DeleteMonitor error 3001\n", {}},
      // The old monitor is gone, yet its library is still held.
      {"CopyFileOver", 1, {}, 32, "CopyFile1 error 32\n", {}},
      {"CopyFileOver", 2, {}, 32, "CopyFile2 error 32\n", {}},
      {"CopyFileOver", 3, {}, 32, "CopyFile3 error 32\n", {}},
      {"RegisterEventLogSource", 1, {}, 5, "EventLog error 5\n", {}},
      {"AddMonitor", 1, {}, 3006, "AddMonitor error 3006\n", {}},
      {"ProtectMonitorKey", 1, {}, 5, "RegSetKeySecurity error 5\n", {}},
      {"AddPrinter", 1, {}, 1797, "AddPrinter error 1797\n", {}},
      // The first ClosePrinter is the old printer's.
      {"ClosePrinter", 2, {}, 6, "ClosePrinter error 6\n", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    FakePlatform failing;
    prepare(failing);
    UsePlatform(&failing);
    failing.Fail(row.call, row.code, row.occurrence);
    failing.inf_step = row.inf_step;
    EXPECT_EQ(RunInstallation(), row.code);
    ASSERT_EQ(failing.boxes.size(), 1u);
    EXPECT_EQ(failing.boxes[0].text, row.message);
    EXPECT_EQ(failing.boxes[0].caption, "Install");
    EXPECT_EQ(failing.boxes[0].owner, 0u);
    EXPECT_EQ(failing.boxes[0].style, 0x50000u);

    // The successful run's calls up to the failing one, then the release.
    Calls expected;
    int seen = 0;
    for (const auto& call : full) {
      expected.push_back(call);
      if (call == row.call && ++seen == row.occurrence) break;
    }
    expected.insert(expected.end(), row.released.begin(), row.released.end());
    const std::string call = row.call;
    if (call == "DriverDirectory" || call == "CopyInfFiles" || call == "AddDriver") {
      expected.push_back("InstallDriverFromStore");
    }
    expected.push_back("ShowMessage");
    Calls calls = failing.Calls();
    // The box waits for the progress window, which no fake thread opens.
    calls.erase(std::remove(calls.begin(), calls.end(), "Sleep"), calls.end());
    EXPECT_EQ(calls, expected);
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
      {u"C:\\WINDOWS\\system32", 0, Text(245, u'M') + u"\\i.exe", "CopyFile2 error 206\n", 0},
      // 242 units: "telvor.dll" fits (253), "quorprompt.exe" does not (257).
      {u"C:\\WINDOWS\\system32", 0, Text(241, u'M') + u"\\i.exe", "CopyFile3 error 206\n", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    FakePlatform platform;
    UsePlatform(&platform);
    platform.printers = {kPrinter};
    platform.monitors = {kMonitor};
    platform.system_directory = row.system_directory;
    platform.system_directory_needs = row.needs;
    platform.module_path = row.module_path;
    EXPECT_EQ(RunInstallation(), too_long);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, row.message);
    EXPECT_EQ(platform.CountOf("CopyFileOver"), row.copies);
    EXPECT_EQ(platform.CountOf("AddMonitor"), 0);
    // Found out before the old installation was touched.
    EXPECT_EQ(platform.CountOf("ListMonitors"), 0);
    EXPECT_TRUE(Has(platform.printers, kPrinter) && Has(platform.monitors, kMonitor));
  }

  // The longest that fits: 255 units with the terminator.
  FakePlatform fits;
  UsePlatform(&fits);
  fits.system_directory = Text(236, u'S');  // with "\\telvor-install.exe"
  fits.module_path = Text(240, u'M') + u"\\i.exe";
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(fits.CountOf("CopyFileOver"), 4);
}

// A re-install with a file missing beside install.exe fails with the copy
// step's message before anything of the old installation is removed.
TEST_F(SequenceTest, SourcesAreCheckedBeforeTheOldInstallationIsRemoved) {
  const struct {
    Text missing;
    const char* message;
  } rows[] = {{u"C:\\Setup\\quor.dll", "CopyFile1 error 2\n"},
              {u"C:\\Setup\\telvor.dll", "CopyFile2 error 2\n"},
              {u"C:\\Setup\\quorprompt.exe", "CopyFile3 error 2\n"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    FakePlatform platform;
    UsePlatform(&platform);
    platform.drivers = {kDriver};
    platform.printers = {kPrinter};
    platform.monitors = {kMonitor};
    platform.missing = {row.missing};
    EXPECT_EQ(RunInstallation(), 2u);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, row.message);
    for (const char* call : {"ListMonitors", "OpenPrinterToDelete", "DeletePrinter",
                             "DeleteMonitor", "StopService", "CopyFileOver"}) {
      EXPECT_EQ(platform.CountOf(call), 0) << call;
    }
    EXPECT_EQ(platform.printers, Names{kPrinter});
    EXPECT_EQ(platform.monitors, Names{kMonitor});
  }
}

TEST_F(SequenceTest, StoppedSpoolerIsStartedBeforeTheFirstScan) {
  fake.service_state = 1;
  EXPECT_EQ(RunInstallation(), 0u);
  const Calls calls = MainCalls();
  const auto started = std::find(calls.begin(), calls.end(), "restart");
  const auto scanned = std::find(calls.begin(), calls.end(), "ListDrivers");
  EXPECT_LT(started, scanned);
  EXPECT_EQ(fake.restarts, 2);  // started, then restarted at the end
  EXPECT_EQ(fake.boxes.back().text, "Install Success!");
}

TEST_F(SequenceTest, SpoolerThatCannotBeStartedEndsTheRun) {
  const std::deque<QueryReply> slow = [] {
    std::deque<QueryReply> replies{{true, 1, 0, 0}};
    for (int i = 0; i < 10; ++i) replies.push_back({true, 2, 10000, 0});  // start pending
    return replies;
  }();
  const struct {
    const char* fail;
    std::deque<QueryReply> script;
    std::uint32_t code;
    const char* message;
  } rows[] = {
      {"StartService", {{true, 1, 0, 0}}, 1058, "StartService error 1058\n"},
      {"", slow, 1460, "StartService error 1460\n"},
      {"OpenService", {}, 5, "OpenService error 5\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    FakePlatform platform;
    UsePlatform(&platform);
    platform.query_script = row.script;
    platform.Fail(row.fail, row.code);
    AnimationThreadHandle = FakePlatform::kAnimationThread;
    EXPECT_EQ(RunInstallation(), row.code);
    ASSERT_EQ(platform.boxes.size(), 1u);
    EXPECT_EQ(platform.boxes[0].text, row.message);
    EXPECT_EQ(platform.CountOf("ListDrivers"), 0);
    // The bar stopped before the box and stays so.
    EXPECT_EQ(platform.suspend_count[FakePlatform::kAnimationThread], 1);
    const auto suspended = std::find(platform.log.begin(), platform.log.end(), "SuspendThread 1");
    EXPECT_LT(suspended - platform.log.begin(), platform.log.end() - platform.log.begin() - 1);
  }
}

// Where ntprint.inf has no legacy driver (Windows 8 and later), the
// platform's PostScript class driver from the driver store takes its place.
TEST_F(SequenceTest, ClassDriverWhenTheLegacyDriverCannotBeInstalled) {
  fake.inf_step = InfStep::kQueueFiles;
  fake.Fail("CopyInfFiles", 0xE0000102);
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(fake.Entries("InstallDriverFromStore"),
            Calls{"InstallDriverFromStore Microsoft PS Class Driver Windows NT x86"});
  EXPECT_EQ(fake.CountOf("AddDriver"), 0);
  EXPECT_EQ(Utf8(fake.added_printer.driver), "Microsoft PS Class Driver");
  EXPECT_EQ(fake.boxes.back().text, "Install Success!");

  // Already installed: taken as it is.
  FakePlatform installed;
  UsePlatform(&installed);
  installed.drivers = {u"Microsoft PS Class Driver"};
  installed.Fail("AddDriver", 1797);
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(installed.CountOf("InstallDriverFromStore"), 0);
  EXPECT_EQ(Utf8(installed.added_printer.driver), "Microsoft PS Class Driver");

  // The legacy driver, where it is there, is kept.
  FakePlatform legacy;
  UsePlatform(&legacy);
  legacy.drivers = {u"Microsoft PS Class Driver", kDriver};
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(Utf8(legacy.added_printer.driver), "HP LaserJet 4/4M PS");
}

// A 32-bit installer on 64-bit Windows would register a monitor the 64-bit
// spooler never loads.
TEST_F(SequenceTest, ThirtyTwoBitPackageOn64BitWindowsIsRefused) {
  fake.Fail("Is32BitOn64BitWindows", 0);
  EXPECT_EQ(RunInstallation(), 216u);
  EXPECT_EQ(fake.Calls(), (Calls{"Is32BitOn64BitWindows", "ShowMessage"}));
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text,
            "This 32-bit package cannot install on 64-bit Windows. Run install.exe of the x64 "
            "package.\n");
  EXPECT_EQ(fake.boxes[0].caption, "Install");
  EXPECT_EQ(fake.boxes[0].owner, 0u);
}

// The bar stands still under every box: a failure ends the run paused; a
// box of the spooler restart pauses only while it is shown.
TEST_F(SequenceTest, BarStandsStillUnderEveryBox) {
  AnimationThreadHandle = FakePlatform::kAnimationThread;
  fake.monitors.push_back(kMonitor);
  fake.Fail("OpenServiceManager", 5, 2);  // the restart in the monitor scan
  fake.Fail("DeleteMonitor", 3001);
  EXPECT_EQ(RunInstallation(), 3001u);
  Calls around;
  for (const auto& entry : fake.log) {
    for (const char* call : {"SuspendThread", "ResumeThread", "ShowMessage"}) {
      if (entry.rfind(call, 0) == 0) around.push_back(entry);
    }
  }
  EXPECT_EQ(around,
            (Calls{"SuspendThread 1", "ShowMessage OpenSCManager error 5\n", "ResumeThread 0",
                   "SuspendThread 1", "ShowMessage DeleteMonitor error 3001\n"}));
}

// A failure before the progress window has opened waits for it (3 s at
// most), so that the box is not buried under the window that comes later.
TEST_F(SequenceTest, EarlyFailureBoxWaitsForTheProgressWindow) {
  fake.Fail("ListDrivers", 1722);
  EXPECT_EQ(RunInstallation(), 1722u);
  EXPECT_EQ(fake.CountOf("Sleep"), 300);
  EXPECT_EQ(fake.log.back(), "ShowMessage EnumPrinterDrivers error 1722\n");
}

// While the progress window is open it owns the boxes, so that they lie
// above it whatever the window manager does with topmost windows.
TEST_F(SequenceTest, ProgressWindowOwnsTheBoxes) {
  ProgressWindowHandle = FakePlatform::kDialog;
  fake.Fail("AddMonitor", 3006);
  EXPECT_EQ(RunInstallation(), 3006u);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].owner, FakePlatform::kDialog);

  FakePlatform success;
  UsePlatform(&success);
  EXPECT_EQ(RunInstallation(), 0u);
  EXPECT_EQ(success.boxes.back().owner, FakePlatform::kDialog);
}

TEST(CommandLineTest, SwitchesAndTheirErrors) {
  Options options;
  Text error;
  EXPECT_TRUE(ParseCommandLine({}, options, error));
  EXPECT_FALSE(options.quiet || options.uninstall || options.usage);
  EXPECT_TRUE(options.settings.empty() && options.password_file.empty());

  ASSERT_TRUE(ParseCommandLine(
      {u"/server", u"fax.example", u"/QUIET", u"/user", u"ann", u"/password-file", u"C:\\p.txt",
       u"/mail", u"%u@example.com", u"/attempts", u"9", u"-modem", u"ttyS1"},
      options, error));
  EXPECT_TRUE(options.quiet);
  EXPECT_EQ(options.password_file, u"C:\\p.txt");
  EXPECT_EQ(options.settings,
            (std::vector<std::pair<Text, Text>>{{u"HylaFAXServerIp", u"fax.example"},
                                                {u"User", u"ann"},
                                                {u"MailAddress", u"%u@example.com"},
                                                {u"Attempts", u"9"},
                                                {u"Modem", u"ttyS1"}}));

  ASSERT_TRUE(ParseCommandLine({u"/no-apps-entry"}, options, error));
  EXPECT_TRUE(options.no_apps_entry);
  ASSERT_TRUE(ParseCommandLine({u"/uninstall", u"/quiet"}, options, error));
  EXPECT_TRUE(options.uninstall && options.quiet);
  ASSERT_TRUE(ParseCommandLine({u"/?"}, options, error));
  EXPECT_TRUE(options.usage);

  const std::vector<std::pair<std::vector<Text>, Text>> refused = {
      {{u"/server"}, u"/server needs a value"},
      {{u"/user", u""}, u"/user needs a value"},
      {{u"/attempts", u"0"}, u"/attempts takes one digit from 1 to 9"},
      {{u"/attempts", u"10"}, u"/attempts takes one digit from 1 to 9"},
      {{u"/mail", u"a", u"/mail", u"b"}, u"/mail is given twice"},
      {{u"/password-file", u"a", u"/password-file", u"b"}, u"/password-file is given twice"},
      {{u"/uninstall", u"/server", u"x"}, u"/uninstall takes no settings"},
      {{u"/uninstall", u"/no-apps-entry"}, u"/uninstall takes no settings"},
      {{u"/user", u"a", u"server"}, u"Argument 3 is no switch"},
      {{u"/quiet", u"/password", u"secret"}, u"Unknown switch: /password"},
  };
  for (const auto& [arguments, expected] : refused) {
    EXPECT_FALSE(ParseCommandLine(arguments, options, error)) << ToUtf8(expected);
    EXPECT_EQ(error, expected);
  }
  EXPECT_TRUE(options.quiet);  // known even when the line is refused
}

// A refused command line changes nothing: a box, or under /quiet the log
// alone, and its own status.
TEST_F(SequenceTest, UsageErrorChangesNothing) {
  EXPECT_EQ(RunCommandLine({u"/attempts", u"x"}), 87u);
  EXPECT_EQ(fake.Calls(), Calls{"ShowMessage"});
  EXPECT_EQ(fake.boxes[0].text.rfind("/attempts takes one digit from 1 to 9\ninstall.exe ", 0), 0u);

  FakePlatform quiet;
  UsePlatform(&quiet);
  // A password typed where it does not belong stays out of the log.
  EXPECT_EQ(RunCommandLine({u"/quiet", u"/server", u"fax", u"/password", u"s3cret"}), 87u);
  EXPECT_EQ(quiet.Calls(), (Calls{"WriteOwnFile", "WriteOwnFile"}));
  EXPECT_EQ(quiet.own_files[u"install.log"].rfind("install.exe /quiet /server fax /password\r\n"
                                                  "Unknown switch: /password\r\ninstall.exe ",
                                                  0),
            0u);
  EXPECT_EQ(quiet.own_files[u"install.log"].find("s3cret"), std::string::npos);
}

// A quiet run with settings: no window, no box, the settings in the key
// after its access list, the password from its file and nowhere else.
TEST_F(SequenceTest, QuietRunStoresTheGivenSettings) {
  fake.given_files[u"C:\\secret.txt"] = "\xEF\xBB\xBFs3cret\r\nignored\r\n";
  EXPECT_EQ(RunCommandLine({u"/quiet", u"/server", u"10.0.0.5", u"/password-file",
                            u"C:\\secret.txt", u"/attempts", u"4"}),
            0u);
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(fake.CountOf("StartThread") + fake.CountOf("PrepareProgressBar"), 0);
  // The Apps list's entry runs the copy in the system directory.
  EXPECT_EQ(fake.Entries("CopyFileOver").back(),
            "CopyFileOver C:\\Setup\\install.exe -> C:\\WINDOWS\\system32\\telvor-install.exe");
  EXPECT_EQ(fake.uninstall_entry,
            (std::map<std::string, std::string>{
                {"DisplayName", "Telvor Printer"},
                {"DisplayVersion", TELVOR_VERSION},
                {"Publisher", "Telvor"},
                {"UninstallString", "\"C:\\WINDOWS\\system32\\telvor-install.exe\" /uninstall"},
                {"QuietUninstallString",
                 "\"C:\\WINDOWS\\system32\\telvor-install.exe\" /uninstall /quiet"}}));
  EXPECT_EQ(fake.monitor_values,
            (std::map<Text, Text>{
                {u"HylaFAXServerIp", u"10.0.0.5"}, {u"Attempts", u"4"}, {u"Password", u"s3cret"}}));
  const Calls calls = MainCalls();
  const auto protect = std::find(calls.begin(), calls.end(), "ProtectMonitorKey");
  EXPECT_LT(protect - calls.begin(),
            std::find(calls.begin(), calls.end(), "WriteMonitorValue") - calls.begin());
  const std::string& log = fake.own_files[u"install.log"];
  EXPECT_NE(log.find("install.exe /quiet /server 10.0.0.5 /password-file C:\\secret.txt"),
            std::string::npos);
  EXPECT_NE(log.find("Install Success!\r\n"), std::string::npos);
  EXPECT_EQ(log.find("s3cret"), std::string::npos);
  for (const auto& entry : fake.log) EXPECT_EQ(entry.find("s3cret"), std::string::npos);

  // Run by the MSI, which keeps its own entry and the program.
  FakePlatform by_msi;
  UsePlatform(&by_msi);
  EXPECT_EQ(RunCommandLine({u"/quiet", u"/no-apps-entry"}), 0u);
  EXPECT_EQ(by_msi.CountOf("WriteUninstallEntry"), 0);
  EXPECT_EQ(by_msi.CountOf("CopyFileOver"), 3);

  // A password file that cannot be read ends the run before anything changes.
  FakePlatform unread;
  Populate(unread);
  UsePlatform(&unread);
  EXPECT_EQ(RunCommandLine({u"/quiet", u"/password-file", u"C:\\gone.txt"}), 2u);
  EXPECT_EQ(unread.CountOf("ListDrivers"), 0);
  EXPECT_NE(unread.own_files[u"install.log"].find("ReadFile error 2\r\n"), std::string::npos);
}

// An upgrade keeps every stored value but the ones given; when it fails
// after the old monitor (and its key) went, the next run still has them.
TEST_F(SequenceTest, UpgradeKeepsTheStoredSettings) {
  const std::map<Text, Text> stored = {
      {u"HylaFAXServerIp", u"fax"}, {u"User", u"ann"},   {u"Password", u"pw\nwith line"},
      {u"MailAddress", u"%u@x"},    {u"Attempts", u"3"}, {u"Modem", u"ttyS2"}};
  fake.monitors.push_back(kMonitor);
  fake.monitor_key = true;
  fake.monitor_values = stored;
  fake.Fail("AddMonitor", 3006);
  EXPECT_EQ(RunCommandLine({u"/quiet", u"/user", u"bob"}), 3006u);
  EXPECT_FALSE(fake.monitor_key);
  ASSERT_EQ(fake.own_files.count(u"kept-settings"), 1u);

  // The next run, without settings, finds them kept; the user given before
  // is lost with the failed run, the stored ones are not.
  EXPECT_EQ(RunCommandLine({u"/quiet"}), 0u);
  EXPECT_EQ(fake.monitor_values, stored);
  EXPECT_EQ(fake.own_files.count(u"kept-settings"), 0u);

  // Over a whole installation, a given value replaces its stored one.
  EXPECT_EQ(RunCommandLine({u"/quiet", u"/modem", u"ttyS0"}), 0u);
  std::map<Text, Text> changed = stored;
  changed[u"Modem"] = u"ttyS0";
  EXPECT_EQ(fake.monitor_values, changed);
}

TEST_F(SequenceTest, UninstallRemovesEverything) {
  fake.printers.push_back(kPrinter);
  fake.monitors.push_back(kMonitor);
  fake.monitor_key = true;
  fake.monitor_values[u"Password"] = u"pw";
  fake.own_files[u"kept-settings"] = "x";
  fake.uninstall_entry["DisplayName"] = "Telvor Printer";
  EXPECT_EQ(RunCommandLine({u"/uninstall", u"/quiet"}), 0u);
  EXPECT_TRUE(fake.uninstall_entry.empty());
  EXPECT_EQ(MainCalls(),
            (Calls{"WriteOwnFile", "Is32BitOn64BitWindows", "ListPrinters", "OpenPrinterToDelete",
                   "DeletePrinter", "ClosePrinter", "ListMonitors", "restart", "DeleteMonitor",
                   "DeleteMonitorKey", "SystemDirectory", "RemoveFile", "RemoveFile", "RemoveFile",
                   "RemoveFile", "UnregisterEventLogSource", "RemoveOwnFile",
                   "RemoveUninstallEntry", "WriteOwnFile"}));
  EXPECT_EQ(fake.Entries("RemoveFile"),
            (Calls{"RemoveFile C:\\WINDOWS\\system32\\quor.dll",
                   "RemoveFile C:\\WINDOWS\\system32\\telvor.dll",
                   "RemoveFile C:\\WINDOWS\\system32\\quorprompt.exe",
                   "RemoveFile C:\\WINDOWS\\system32\\telvor-install.exe"}));
  EXPECT_FALSE(Has(fake.printers, kPrinter) || Has(fake.monitors, kMonitor) || fake.monitor_key);
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_NE(fake.own_files[u"install.log"].find("Uninstall Success!\r\n"), std::string::npos);

  // Nothing left to remove is no failure; a failing step ends the run.
  FakePlatform again;
  UsePlatform(&again);
  again.Fail("RemoveFile", 5, 2);
  EXPECT_EQ(RunCommandLine({u"/uninstall"}), 5u);
  EXPECT_EQ(again.CountOf("DeleteMonitor") + again.CountOf("OpenPrinterToDelete"), 0);
  ASSERT_EQ(again.boxes.size(), 1u);
  EXPECT_EQ(again.boxes[0].text, "DeleteFile error 5\n");
}

}  // namespace
}  // namespace telvor::installer
