// The entry, the operations table and the operations that do little.
#include "operations.h"

#include <cstring>

#include "fakes.h"
#include "job.h"
#include "ports.h"

namespace quor::testing {
namespace {

using OperationsTest = MonitorTest;

TEST_F(OperationsTest, EachInitializationBuildsItsOwnTableAndHandsBackTheInitRecord) {
  MONITORINIT second = registry.init;
  HANDLE handle = nullptr;
  HANDLE second_handle = nullptr;
  const MONITOR2* table = InitializeMonitor(&registry.init, &handle);
  const MONITOR2* second_table = InitializeMonitor(&second, &second_handle);
  ASSERT_NE(table, nullptr);
  ASSERT_NE(second_table, nullptr);
  EXPECT_NE(table, second_table);
  EXPECT_EQ(std::memcmp(table, second_table, sizeof(MONITOR2)), 0);
  EXPECT_EQ(handle, &registry.init);
  EXPECT_EQ(second_handle, &second);

  // A size field and nineteen pointer-sized slots (80 bytes on 32-bit);
  // eleven operations, the port user interface's slots empty.
  EXPECT_EQ(table->cbSize, 20 * sizeof(void*));
  EXPECT_EQ(platform.calls.front(), "allocate " + std::to_string(20 * sizeof(void*)));
  EXPECT_EQ(table->pfnEnumPorts, &EnumPorts);
  EXPECT_EQ(table->pfnOpenPort, &OpenPort);
  EXPECT_EQ(table->pfnStartDocPort, &StartDocPort);
  EXPECT_EQ(table->pfnWritePort, &WritePort);
  EXPECT_EQ(table->pfnReadPort, &ReadPort);
  EXPECT_EQ(table->pfnEndDocPort, &EndDocPort);
  EXPECT_EQ(table->pfnClosePort, &ClosePort);
  EXPECT_EQ(table->pfnXcvOpenPort, &XcvOpenPort);
  EXPECT_EQ(table->pfnXcvDataPort, &XcvDataPort);
  EXPECT_EQ(table->pfnXcvClosePort, &XcvClosePort);
  EXPECT_EQ(table->pfnShutdown, &Shutdown);
  EXPECT_EQ(table->pfnOpenPortEx, nullptr);
  EXPECT_EQ(table->pfnAddPort, nullptr);
  EXPECT_EQ(table->pfnAddPortEx, nullptr);
  EXPECT_EQ(table->pfnConfigurePort, nullptr);
  EXPECT_EQ(table->pfnDeletePort, nullptr);
  EXPECT_EQ(table->pfnGetPrinterDataFromPort, nullptr);
  EXPECT_EQ(table->pfnSetPortTimeOuts, nullptr);
  EXPECT_EQ(table->pfnSendRecvBidiDataFromPort, nullptr);
}

TEST_F(OperationsTest, ATableThatCannotBeAllocatedIsReportedAsNull) {
  platform.allocation_fails = true;
  HANDLE handle = reinterpret_cast<HANDLE>(0x1);
  EXPECT_EQ(InitializeMonitor(&registry.init, &handle), nullptr);
  EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1));
}

TEST_F(OperationsTest, ReadPortAnswersTheTestTextAndNeverWritesPastTheBuffer) {
  unsigned char buffer[80];
  std::memset(buffer, 0xA5, sizeof(buffer));
  DWORD read = 0;
  ASSERT_TRUE(ReadPort(nullptr, buffer, 54, &read));
  EXPECT_EQ(read, 4u);
  const std::u16string expected = u"hyla fax test receive data";
  EXPECT_EQ(std::memcmp(buffer, expected.c_str(), 54), 0);
  EXPECT_EQ(buffer[54], 0xA5);

  std::memset(buffer, 0xA5, sizeof(buffer));
  read = 99;
  EXPECT_FALSE(ReadPort(nullptr, buffer, 53, &read));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(platform.last_error, 122u);
  for (unsigned char byte : buffer) ASSERT_EQ(byte, 0xA5);
}

}  // namespace
}  // namespace quor::testing
