#include "spooler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "print_queue.h"

namespace telvor::spoolhost {
namespace {

// A monitor whose every operation is recorded and whose answers a test sets.
struct FakeMonitor {
  enum class Ports { kGood, kStringOutside, kOtherPort, kNoSizeFirst, kWrongError };
  Ports ports = Ports::kGood;
  bool open_ok = true;
  bool start_ok = true;
  DWORD write_limit = 0xFFFFFFFF;  // most bytes one WritePort takes
  int writes_before_stall = -1;    // >= 0: later writes take nothing
  BOOL end_result = TRUE;
  std::vector<std::string> calls;
  std::string written;
  Text printer;
  DWORD job_id = 0;
  DWORD level = 0;
  Text document;
};

FakeMonitor* fake = nullptr;
HANDLE const kMonitorHandle = reinterpret_cast<HANDLE>(0x1000);
HANDLE const kPortHandle = reinterpret_cast<HANDLE>(0x2000);
const char16_t kOutsideString[] = u"FX:";

// Packs the strings at the end of the buffer, as the monitor does.
char16_t* PlaceString(LPBYTE buffer, DWORD* end, TextView text) {
  *end -= static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
  auto* place = reinterpret_cast<char16_t*>(buffer + *end);
  std::memcpy(place, text.data(), text.size() * sizeof(char16_t));
  place[text.size()] = 0;
  return place;
}

BOOL WINAPI EnumPorts(HANDLE monitor, LPWSTR, DWORD level, LPBYTE buffer, DWORD size,
                      LPDWORD needed, LPDWORD returned) {
  fake->calls.push_back("EnumPorts " + std::to_string(level) + " " + std::to_string(size));
  EXPECT_EQ(monitor, kMonitorHandle);
  const TextView name = fake->ports == FakeMonitor::Ports::kOtherPort ? u"LPT9:" : u"FX:";
  const TextView monitor_name = u"TelvorMon";
  const TextView description = u"HylaFAX Server";
  DWORD strings = static_cast<DWORD>((name.size() + 1) * 2);
  if (level == 2) {
    strings += static_cast<DWORD>((monitor_name.size() + description.size() + 2) * 2);
  }
  *needed = static_cast<DWORD>(level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W)) + strings;
  if (size < *needed) {
    if (fake->ports == FakeMonitor::Ports::kNoSizeFirst) {
      *returned = 0;
      return TRUE;
    }
    SetLastError(fake->ports == FakeMonitor::Ports::kWrongError ? 87 : ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DWORD end = size;
  if (level == 1) {
    auto* record = reinterpret_cast<PORT_INFO_1W*>(buffer);
    record->pName = PlaceString(buffer, &end, name);
  } else {
    auto* record = reinterpret_cast<PORT_INFO_2W*>(buffer);
    record->pDescription = PlaceString(buffer, &end, description);
    record->pMonitorName = PlaceString(buffer, &end, monitor_name);
    record->pPortName = PlaceString(buffer, &end, name);
    record->fPortType = PORT_TYPE_WRITE;
    record->Reserved = 0;
    if (fake->ports == FakeMonitor::Ports::kStringOutside) {
      record->pMonitorName = const_cast<char16_t*>(kOutsideString);
    }
  }
  *returned = 1;
  return TRUE;
}

BOOL WINAPI OpenPort(HANDLE monitor, LPWSTR name, PHANDLE port) {
  fake->calls.push_back("OpenPort " + ToUtf8(name));
  EXPECT_EQ(monitor, kMonitorHandle);
  if (!fake->open_ok) return FALSE;
  *port = kPortHandle;
  return TRUE;
}

BOOL WINAPI StartDocPort(HANDLE port, LPWSTR printer, DWORD job_id, DWORD level, LPBYTE info) {
  fake->calls.push_back("StartDocPort");
  EXPECT_EQ(port, kPortHandle);
  fake->printer = printer;
  fake->job_id = job_id;
  fake->level = level;
  LPWSTR document_name;
  std::memcpy(&document_name, info, sizeof document_name);  // DOC_INFO_1's first field
  fake->document = document_name;
  return fake->start_ok;
}

BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
  fake->calls.push_back("WritePort " + std::to_string(size));
  EXPECT_EQ(port, kPortHandle);
  DWORD taken = std::min(size, fake->write_limit);
  if (fake->writes_before_stall == 0) taken = 0;
  if (fake->writes_before_stall > 0) --fake->writes_before_stall;
  fake->written.append(reinterpret_cast<const char*>(buffer), taken);
  *written = taken;
  return TRUE;
}

BOOL WINAPI EndDocPort(HANDLE port) {
  fake->calls.push_back("EndDocPort");
  EXPECT_EQ(port, kPortHandle);
  return fake->end_result;
}

BOOL WINAPI ClosePort(HANDLE port) {
  fake->calls.push_back("ClosePort");
  EXPECT_EQ(port, kPortHandle);
  return TRUE;
}

MONITOR2 FakeTable() {
  MONITOR2 table{};
  table.cbSize = sizeof table;
  table.pfnEnumPorts = EnumPorts;
  table.pfnOpenPort = OpenPort;
  table.pfnStartDocPort = StartDocPort;
  table.pfnWritePort = WritePort;
  table.pfnEndDocPort = EndDocPort;
  table.pfnClosePort = ClosePort;
  return table;
}

class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string text, bool fail_at_end = false)
      : text_(std::move(text)), fail_at_end_(fail_at_end) {}
  long long Read(std::uint8_t* buffer, std::size_t size) override {
    const std::size_t count = std::min(size, text_.size() - offset_);
    if (count == 0 && fail_at_end_) return -1;
    std::memcpy(buffer, text_.data() + offset_, count);
    offset_ += count;
    return static_cast<long long>(count);
  }

 private:
  std::string text_;
  std::size_t offset_ = 0;
  bool fail_at_end_;
};

class SpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override { fake = &monitor_; }
  void TearDown() override { fake = nullptr; }

  JobResult Print(const std::string& document, std::string* error, bool fail_reading = false) {
    StringSource source(document, fail_reading);
    JobRequest request;
    request.printer = u"Telvor Printer";
    request.job_id = 7;
    request.document = u"letter.ps";
    request.chunk_size = 4096;
    return PrintJob(table_, kMonitorHandle, source, request, error);
  }

  FakeMonitor monitor_;
  MONITOR2 table_ = FakeTable();
};

TEST_F(SpoolerTest, FindsThePortAtBothLevelsWithTheTwoCallPattern) {
  PortEntry port;
  std::string error;
  ASSERT_TRUE(FindPort(table_, kMonitorHandle, &port, &error)) << error;
  EXPECT_EQ(port.name, u"FX:");
  EXPECT_EQ(port.monitor, u"TelvorMon");
  EXPECT_EQ(port.description, u"HylaFAX Server");
  // No buffer first, then exactly the size the monitor asked for.
  const std::string level1 = std::to_string(sizeof(PORT_INFO_1W) + 8);
  const std::string level2 = std::to_string(sizeof(PORT_INFO_2W) + 58);
  EXPECT_EQ(monitor_.calls, (std::vector<std::string>{"EnumPorts 1 0", "EnumPorts 1 " + level1,
                                                      "EnumPorts 2 0", "EnumPorts 2 " + level2}));
}

TEST_F(SpoolerTest, RejectsAMonitorThatBreaksTheEnumeration) {
  const FakeMonitor::Ports faults[] = {
      FakeMonitor::Ports::kStringOutside, FakeMonitor::Ports::kOtherPort,
      FakeMonitor::Ports::kNoSizeFirst, FakeMonitor::Ports::kWrongError};
  for (const auto fault : faults) {
    monitor_.ports = fault;
    PortEntry port;
    std::string error;
    EXPECT_FALSE(FindPort(table_, kMonitorHandle, &port, &error)) << static_cast<int>(fault);
    EXPECT_FALSE(error.empty());
  }
}

TEST_F(SpoolerTest, WritesTheWholeDocumentInOrderThenEndsAndClosesThePort) {
  std::string document;
  for (int i = 0; i < 10000; ++i) document += static_cast<char>('A' + i % 26);
  monitor_.write_limit = 3000;  // short writes: the rest is offered again
  std::string error;
  EXPECT_EQ(Print(document, &error), JobResult::kHandedOver) << error;
  EXPECT_EQ(monitor_.written, document);
  EXPECT_EQ(monitor_.calls,
            (std::vector<std::string>{"OpenPort FX:", "StartDocPort", "WritePort 4096",
                                      "WritePort 1096", "WritePort 4096", "WritePort 1096",
                                      "WritePort 1808", "EndDocPort", "ClosePort"}));
  EXPECT_EQ(monitor_.printer, u"Telvor Printer");
  EXPECT_EQ(monitor_.job_id, 7u);
  EXPECT_EQ(monitor_.level, 1u);
  EXPECT_EQ(monitor_.document, u"letter.ps");
}

TEST_F(SpoolerTest, AnEmptyDocumentIsStillAJob) {
  std::string error;
  EXPECT_EQ(Print("", &error), JobResult::kHandedOver);
  EXPECT_EQ(monitor_.calls,
            (std::vector<std::string>{"OpenPort FX:", "StartDocPort", "EndDocPort", "ClosePort"}));
}

TEST_F(SpoolerTest, AJobThatCannotBeWrittenWholeIsNeverEnded) {
  std::string error;
  monitor_.writes_before_stall = 1;
  EXPECT_EQ(Print(std::string(5000, 'x'), &error), JobResult::kNotWritten);
  EXPECT_NE(error.find("after 4096 bytes"), std::string::npos) << error;
  EXPECT_EQ(monitor_.calls,
            (std::vector<std::string>{"OpenPort FX:", "StartDocPort", "WritePort 4096",
                                      "WritePort 904", "ClosePort"}));

  monitor_ = FakeMonitor();
  EXPECT_EQ(Print("%!PS", &error, /*fail_reading=*/true), JobResult::kNotWritten);
  EXPECT_EQ(monitor_.calls.back(), "ClosePort");
  EXPECT_EQ(std::count(monitor_.calls.begin(), monitor_.calls.end(), "EndDocPort"), 0);
}

TEST_F(SpoolerTest, PortAndJobFailures) {
  std::string error;
  monitor_.open_ok = false;
  EXPECT_EQ(Print("%!PS", &error), JobResult::kPortNotOpened);
  EXPECT_EQ(monitor_.calls, (std::vector<std::string>{"OpenPort FX:"}));

  monitor_ = FakeMonitor();
  monitor_.start_ok = false;
  EXPECT_EQ(Print("%!PS", &error), JobResult::kNotStarted);
  EXPECT_EQ(monitor_.calls,
            (std::vector<std::string>{"OpenPort FX:", "StartDocPort", "ClosePort"}));

  monitor_ = FakeMonitor();
  monitor_.end_result = FALSE;
  EXPECT_EQ(Print("%!PS", &error), JobResult::kNotSent);
  EXPECT_EQ(monitor_.calls.back(), "ClosePort");
}

// The printer calls as the monitor makes them through the host table.
TEST(PrintQueueTest, PrinterCallsRecordTheJobState) {
  std::vector<std::string> notices;
  PrintQueue queue(u"Telvor Printer", [&](const std::string& n) { notices.push_back(n); });
  queue.AddJob(1);
  EXPECT_EQ(queue.JobState(1), "printing");

  void* printer = nullptr;
  std::uint32_t error = 0;
  EXPECT_FALSE(queue.Open(u"Another Printer", &printer, &error));
  EXPECT_EQ(error, 1801u);

  ASSERT_TRUE(queue.Open(u"Telvor Printer", &printer, &error));
  EXPECT_FALSE(queue.SetJob(printer, 2, JOB_CONTROL_SENT_TO_PRINTER, &error));  // no such job
  EXPECT_EQ(error, 87u);
  EXPECT_FALSE(queue.SetJob(printer, 1, 1, &error));  // a command no monitor gives
  EXPECT_EQ(error, 50u);
  EXPECT_TRUE(queue.SetJob(printer, 1, JOB_CONTROL_SENT_TO_PRINTER, &error));
  EXPECT_EQ(queue.JobState(1), "sent to printer");
  EXPECT_EQ(notices, (std::vector<std::string>{"job 1: sent to printer"}));
  EXPECT_TRUE(queue.Close(printer, &error));
  EXPECT_EQ(queue.OpenHandles(), 0u);

  EXPECT_FALSE(queue.Close(printer, &error));  // already closed
  EXPECT_EQ(error, 6u);
  EXPECT_FALSE(queue.SetJob(printer, 1, JOB_CONTROL_SENT_TO_PRINTER, &error));
  EXPECT_EQ(error, 6u);
}

}  // namespace
}  // namespace telvor::spoolhost
