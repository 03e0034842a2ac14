// The one port, "FX:", and its enumeration.
#pragma once

#include <cstddef>

#include "quor/spooler.h"
#include "telvor_common/names.h"

namespace quor {

using telvor::kMonitorName;
using telvor::kPortName;
inline constexpr char16_t kPortDescription[] = u"HylaFAX Server";

// Sizes in bytes, strings with their terminators.
inline constexpr DWORD kPortNameBytes = static_cast<DWORD>(sizeof(kPortName));
inline constexpr DWORD kMonitorNameBytes = static_cast<DWORD>(sizeof(kMonitorName));
inline constexpr DWORD kDescriptionBytes = static_cast<DWORD>(sizeof(kPortDescription));
inline constexpr DWORD kPortInfo1Needed = static_cast<DWORD>(sizeof(PORT_INFO_1W)) + kPortNameBytes;
inline constexpr DWORD kPortInfo2Needed = static_cast<DWORD>(sizeof(PORT_INFO_2W)) +
                                          kPortNameBytes + kMonitorNameBytes + kDescriptionBytes;

// The record sits at the front of the caller's buffer and its strings at the
// end, packed backwards in field order, as the spooler expects: it hands the
// next monitor the space between our record and our strings. The strings end
// at the buffer's last whole 16-bit unit, so they stay aligned.
constexpr DWORD StringsEnd(DWORD buffer_size) { return buffer_size & ~DWORD{1}; }
constexpr DWORD PortInfo1NameOffset(DWORD buffer_size) {
  return StringsEnd(buffer_size) - kPortNameBytes;
}
constexpr DWORD PortInfo2DescriptionOffset(DWORD buffer_size) {
  return StringsEnd(buffer_size) - kDescriptionBytes;
}
constexpr DWORD PortInfo2MonitorOffset(DWORD buffer_size) {
  return PortInfo2DescriptionOffset(buffer_size) - kMonitorNameBytes;
}
constexpr DWORD PortInfo2PortOffset(DWORD buffer_size) {
  return PortInfo2MonitorOffset(buffer_size) - kPortNameBytes;
}

BOOL WINAPI EnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned);

}  // namespace quor
