// The export, its operations table, and the operations that do little.
#include <cstring>

#include "fakes.h"

extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor);

namespace quor::testing {
namespace {

using OperationsTest = MonitorTest;

TEST_F(OperationsTest, EachInitializationBuildsItsOwnTableAndHandsBackTheInitRecord) {
  MONITORINIT second = registry.init;
  HANDLE second_handle = SentinelHandle();
  const MONITOR2* second_table = InitializePrintMonitor2(&second, &second_handle);
  ASSERT_NE(table, nullptr);
  ASSERT_NE(second_table, nullptr);
  EXPECT_NE(table, second_table);
  EXPECT_EQ(std::memcmp(table, second_table, sizeof(MONITOR2)), 0);
  EXPECT_EQ(monitor, &registry.init);
  EXPECT_EQ(second_handle, &second);

  // A size field and nineteen pointer-sized slots (80 bytes on 32-bit);
  // eleven operations, the port user interface's slots empty.
  EXPECT_EQ(table->cbSize, 20 * sizeof(void*));
  EXPECT_TRUE(table->pfnEnumPorts && table->pfnOpenPort && table->pfnStartDocPort &&
              table->pfnWritePort && table->pfnReadPort && table->pfnEndDocPort &&
              table->pfnClosePort && table->pfnXcvOpenPort && table->pfnXcvDataPort &&
              table->pfnXcvClosePort && table->pfnShutdown);
  EXPECT_FALSE(table->pfnOpenPortEx || table->pfnAddPort || table->pfnAddPortEx ||
               table->pfnConfigurePort || table->pfnDeletePort ||
               table->pfnGetPrinterDataFromPort || table->pfnSetPortTimeOuts ||
               table->pfnSendRecvBidiDataFromPort);
}

TEST_F(OperationsTest, ATableThatCannotBeAllocatedIsReportedAsNull) {
  platform.allocation_fails = true;
  HANDLE handle = SentinelHandle();
  EXPECT_EQ(InitializePrintMonitor2(&registry.init, &handle), nullptr);
  EXPECT_EQ(handle, SentinelHandle());
}

TEST_F(OperationsTest, NoPortConfigurationIsOfferedAndShutdownKeepsTheTable) {
  platform.last_error = 99;
  HANDLE xcv = SentinelHandle();
  char16_t object[] = u",XcvMonitor TelvorMon";
  EXPECT_FALSE(table->pfnXcvOpenPort(monitor, reinterpret_cast<LPCWSTR>(object), 0x1F, &xcv));
  EXPECT_EQ(xcv, SentinelHandle());
  EXPECT_EQ(platform.last_error, 99u);

  BYTE input[4] = {1, 2, 3, 4};
  BYTE output[8];
  std::memset(output, 0xA5, sizeof(output));
  DWORD needed = kUnset;
  char16_t command[] = u"MonitorUI";
  EXPECT_EQ(table->pfnXcvDataPort(xcv, reinterpret_cast<LPCWSTR>(command), input, 4, output,
                                  sizeof(output), &needed),
            0u);
  EXPECT_EQ(needed, kUnset);
  for (BYTE byte : output) EXPECT_EQ(byte, 0xA5);

  // The handle it is given is closed as a file, and it always succeeds.
  const Handle file = platform.OpenExclusiveFile(u"/tmp/spool/xcv");
  EXPECT_TRUE(table->pfnXcvClosePort(file));
  EXPECT_FALSE(platform.IsOpen(u"/tmp/spool/xcv"));
  EXPECT_TRUE(table->pfnXcvClosePort(file));

  table->pfnShutdown(monitor);
  DWORD returned = kUnset;
  BYTE ports[64];
  EXPECT_TRUE(table->pfnEnumPorts(monitor, nullptr, 1, ports, sizeof(ports), &needed, &returned));
  EXPECT_EQ(returned, 1u);
}

TEST_F(OperationsTest, ReadPortAnswersTheTestTextAndNeverWritesPastTheBuffer) {
  const std::u16string text = u"hyla fax test receive data";
  for (DWORD size : {53u, 54u, 55u}) {
    SCOPED_TRACE(size);
    unsigned char buffer[64];
    std::memset(buffer, 0xA5, sizeof(buffer));
    DWORD read = kUnset;
    platform.last_error = 0;
    const BOOL ok = table->pfnReadPort(nullptr, buffer, size, &read);
    if (size < 54) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(read, 0u);
      EXPECT_EQ(platform.last_error, 122u);
      for (unsigned char byte : buffer) ASSERT_EQ(byte, 0xA5);
    } else {
      EXPECT_TRUE(ok);
      EXPECT_EQ(read, 4u);
      EXPECT_EQ(std::memcmp(buffer, text.c_str(), 54), 0);
      EXPECT_EQ(buffer[54], 0xA5);
    }
  }
}

}  // namespace
}  // namespace quor::testing
