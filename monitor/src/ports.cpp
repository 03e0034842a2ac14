#include "ports.h"

#include <cstring>

#include "platform.h"
#include "telvor_common/win_errors.h"

namespace quor {

#if defined(_WIN32) && !defined(_WIN64)
// The 32-bit layout the spooler sees: a 12-byte level 1 answer and a 78-byte
// level 2 answer, with the strings at 4, and at 20, 28 and 48.
static_assert(sizeof(MONITOR2) == 80, "32-bit operations table");
static_assert(sizeof(PORT_INFO_1W) == 4 && sizeof(PORT_INFO_2W) == 20, "32-bit records");
static_assert(kPortInfo1Needed == 12 && PortInfo1NameOffset(12) == 4, "level 1 layout");
static_assert(kPortInfo2Needed == 78 && PortInfo2PortOffset(78) == 20 &&
                  PortInfo2MonitorOffset(78) == 28 && PortInfo2DescriptionOffset(78) == 48,
              "level 2 layout");
#endif

namespace {

template <std::size_t N>
LPWSTR PlaceString(LPBYTE buffer, DWORD offset, const char16_t (&text)[N]) {
  std::memcpy(buffer + offset, text, sizeof(text));
  return reinterpret_cast<LPWSTR>(buffer + offset);
}

}  // namespace

BOOL WINAPI EnumPorts(HANDLE, LPWSTR, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                      LPDWORD pcReturned) {
  if (Level == 1) {
    *pcbNeeded = kPortInfo1Needed;
    if (cbBuf < kPortInfo1Needed) {
      CurrentPlatform().SetLastError(telvor::win_error::kInsufficientBuffer);
      return FALSE;
    }
    PORT_INFO_1W record{};
    record.pName = PlaceString(pPorts, PortInfo1NameOffset(cbBuf), kPortName);
    std::memcpy(pPorts, &record, sizeof(record));
  } else if (Level == 2) {
    *pcbNeeded = kPortInfo2Needed;
    if (cbBuf < kPortInfo2Needed) {
      CurrentPlatform().SetLastError(telvor::win_error::kInsufficientBuffer);
      return FALSE;
    }
    PORT_INFO_2W record{};
    record.pPortName = PlaceString(pPorts, PortInfo2PortOffset(cbBuf), kPortName);
    record.pMonitorName = PlaceString(pPorts, PortInfo2MonitorOffset(cbBuf), kMonitorName);
    record.pDescription = PlaceString(pPorts, PortInfo2DescriptionOffset(cbBuf), kPortDescription);
    record.fPortType = PORT_TYPE_WRITE;
    record.Reserved = 0;
    std::memcpy(pPorts, &record, sizeof(record));
  } else {
    CurrentPlatform().SetLastError(telvor::win_error::kInvalidLevel);
    return FALSE;
  }
  *pcReturned = 1;
  return TRUE;
}

}  // namespace quor
