// The names that tie the installer and the port monitor together: what the
// installer registers is what the monitor answers to and loads.
#pragma once

namespace telvor {

inline constexpr char16_t kPrinterName[] = u"Telvor Printer";
inline constexpr char16_t kPortName[] = u"FX:";
inline constexpr char16_t kMonitorName[] = u"TelvorMon";
// Library files on Windows, found by these names in the system directory.
inline constexpr char16_t kMonitorLibraryFile[] = u"quor.dll";
inline constexpr char16_t kFaxLibraryFile[] = u"telvor.dll";

}  // namespace telvor
