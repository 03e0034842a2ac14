// Port enumeration: the record at the front of the caller's buffer, its
// strings packed backwards at the end, nothing written outside cbBuf.
#include <cstring>
#include <tuple>
#include <vector>

#include "fakes.h"

namespace quor::testing {
namespace {

constexpr unsigned char kMarker = 0xA5;
// Strings with terminators: "FX:" 8 bytes, "TelvorMon" 20, "HylaFAX Server" 30.
constexpr DWORD kLevel1Strings = 8;
constexpr DWORD kLevel2Strings = 8 + 20 + 30;

class EnumPortsTest : public MonitorTest {
 protected:
  // A buffer of `size` bytes with marker bytes on both sides of it.
  void Prepare(DWORD size) {
    storage.assign(size + 2 * kGuard, kMarker);
    buffer = storage.data() + kGuard;
  }
  BOOL Enum(DWORD level, DWORD size, LPWSTR server = nullptr) {
    return table->pfnEnumPorts(monitor, server, level, buffer, size, &needed, &returned);
  }
  std::u16string StringAt(const void* address) const {
    std::u16string text;
    const auto* bytes = static_cast<const unsigned char*>(address);
    for (char16_t unit;; bytes += 2) {
      std::memcpy(&unit, bytes, 2);
      if (unit == 0) return text;
      text.push_back(unit);
    }
  }
  bool Untouched(std::size_t from, std::size_t to) const {
    for (std::size_t i = from; i < to; ++i) {
      if (storage[i] != kMarker) return false;
    }
    return true;
  }
  PORT_INFO_1W Level1() const {
    PORT_INFO_1W record;
    std::memcpy(&record, buffer, sizeof(record));
    return record;
  }
  PORT_INFO_2W Level2() const {
    PORT_INFO_2W record;
    std::memcpy(&record, buffer, sizeof(record));
    return record;
  }

  static constexpr std::size_t kGuard = 64;
  std::vector<unsigned char> storage;
  unsigned char* buffer = nullptr;
  DWORD needed = kUnset;
  DWORD returned = kUnset;
};

TEST_F(EnumPortsTest, NeededMinusOneFailsWithTheSizeAndNeededOrMoreHoldsRecordThenStrings) {
  const DWORD level1 = sizeof(PORT_INFO_1W) + kLevel1Strings;
  const DWORD level2 = sizeof(PORT_INFO_2W) + kLevel2Strings;
  // The server name is not consulted: another machine's still gets "FX:".
  char16_t other_server[] = u"\\\\elsewhere";
  for (const auto& [level, need] : {std::tuple<DWORD, DWORD>{1, level1}, {2, level2}}) {
    for (DWORD size : {DWORD{0}, need - 1, need, need + 1}) {
      SCOPED_TRACE(::testing::Message() << "level " << level << " size " << size);
      Prepare(size);
      needed = kUnset;
      returned = kUnset;
      platform.last_error = 0;
      const BOOL ok = Enum(level, size, reinterpret_cast<LPWSTR>(other_server));
      EXPECT_EQ(needed, need);
      EXPECT_TRUE(Untouched(0, kGuard));
      if (size < need) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(platform.last_error, 122u);
        EXPECT_EQ(returned, kUnset);
        EXPECT_TRUE(Untouched(0, storage.size()));
        continue;
      }
      EXPECT_TRUE(ok);
      EXPECT_EQ(returned, 1u);
      // An odd size ends the strings at the last whole 16-bit unit: the
      // layout is that of the needed size, and the byte behind it untouched.
      EXPECT_TRUE(Untouched(kGuard + need, storage.size()));
      unsigned char* strings = buffer + need - (level == 1 ? kLevel1Strings : kLevel2Strings);
      if (level == 1) {
        EXPECT_EQ(reinterpret_cast<unsigned char*>(Level1().pName), strings);
        EXPECT_EQ(StringAt(strings), u"FX:");
        continue;
      }
      const PORT_INFO_2W record = Level2();
      EXPECT_EQ(reinterpret_cast<unsigned char*>(record.pPortName), strings);
      EXPECT_EQ(reinterpret_cast<unsigned char*>(record.pMonitorName), strings + 8);
      EXPECT_EQ(reinterpret_cast<unsigned char*>(record.pDescription), strings + 28);
      EXPECT_EQ(StringAt(record.pPortName), u"FX:");
      EXPECT_EQ(StringAt(record.pMonitorName), u"TelvorMon");
      EXPECT_EQ(StringAt(record.pDescription), u"HylaFAX Server");
      EXPECT_EQ(record.fPortType, 1u);
      EXPECT_EQ(record.Reserved, 0u);
    }
  }
}

TEST_F(EnumPortsTest, OtherLevelsAreRefusedWithoutOutputs) {
  for (DWORD level : {0u, 3u}) {
    Prepare(256);
    needed = kUnset;
    EXPECT_FALSE(Enum(level, 256));
    EXPECT_EQ(platform.last_error, 124u);
    EXPECT_EQ(needed, kUnset);
    EXPECT_EQ(returned, kUnset);
    EXPECT_TRUE(Untouched(0, storage.size()));
  }
}

TEST_F(EnumPortsTest, InALargerBufferTheStringsEndAtItsLastByte) {
  const DWORD size = 200;
  Prepare(size);
  ASSERT_TRUE(Enum(2, size));
  EXPECT_EQ(needed, sizeof(PORT_INFO_2W) + kLevel2Strings);
  const PORT_INFO_2W record = Level2();
  unsigned char* description = buffer + size - 30;
  EXPECT_EQ(reinterpret_cast<unsigned char*>(record.pDescription), description);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(record.pMonitorName), description - 20);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(record.pPortName), description - 28);
  EXPECT_EQ(StringAt(record.pDescription), u"HylaFAX Server");
  EXPECT_TRUE(Untouched(kGuard + sizeof(PORT_INFO_2W), kGuard + size - kLevel2Strings));
  EXPECT_TRUE(Untouched(kGuard + size, storage.size()));

  Prepare(size);
  ASSERT_TRUE(Enum(1, size));
  EXPECT_EQ(reinterpret_cast<unsigned char*>(Level1().pName), buffer + size - 8);
  EXPECT_TRUE(Untouched(kGuard + sizeof(PORT_INFO_1W), kGuard + size - kLevel1Strings));
}

}  // namespace
}  // namespace quor::testing
