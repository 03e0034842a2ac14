// Prints what the spooler holds, as the installer's tests judge it, one line
// each (UTF-8):
//
//   driver: <name>                          printer drivers of ENVIRONMENT
//   monitor: <name>                         port monitors
//   port: <name>\t<monitor>                 ports, with the monitor that owns them
//   printer: <name>\t<port>\t<driver>       local printers
//
// usage: spooler_state.exe ENVIRONMENT
// Exit status 0, or 1 with an "error:" line when an enumeration fails.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(size - 1));
  return utf8;
}

void Report(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
}

// Runs an enumeration the usual two-call way; returns the record count, or
// -1 after reporting the failure.
template <typename Enumerate>
long EnumerateAll(const char* what, std::vector<BYTE>& area, Enumerate enumerate) {
  DWORD needed = 0;
  DWORD count = 0;
  enumerate(nullptr, 0, &needed, &count);
  area.assign(needed + 1, 0);
  if (!enumerate(area.data(), needed, &needed, &count)) {
    Report(std::string("error: ") + what + " failed: " + std::to_string(GetLastError()));
    return -1;
  }
  return static_cast<long>(count);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // LF line ends, as the POSIX side reads them
  if (argc != 2) {
    Report("usage: spooler_state.exe ENVIRONMENT");
    return 2;
  }
  wchar_t* environment = argv[1];
  std::vector<BYTE> area;

  long count =
      EnumerateAll("EnumPrinterDriversW", area, [&](BYTE* a, DWORD n, DWORD* need, DWORD* got) {
        return EnumPrinterDriversW(nullptr, environment, 1, a, n, need, got);
      });
  if (count < 0) return 1;
  for (long i = 0; i < count; ++i) {
    Report("driver: " + Utf8(reinterpret_cast<DRIVER_INFO_1W*>(area.data())[i].pName));
  }

  count = EnumerateAll("EnumMonitorsW", area, [](BYTE* a, DWORD n, DWORD* need, DWORD* got) {
    return EnumMonitorsW(nullptr, 1, a, n, need, got);
  });
  if (count < 0) return 1;
  for (long i = 0; i < count; ++i) {
    Report("monitor: " + Utf8(reinterpret_cast<MONITOR_INFO_1W*>(area.data())[i].pName));
  }

  count = EnumerateAll("EnumPortsW", area, [](BYTE* a, DWORD n, DWORD* need, DWORD* got) {
    return EnumPortsW(nullptr, 2, a, n, need, got);
  });
  if (count < 0) return 1;
  for (long i = 0; i < count; ++i) {
    const PORT_INFO_2W& port = reinterpret_cast<PORT_INFO_2W*>(area.data())[i];
    Report("port: " + Utf8(port.pPortName) + "\t" + Utf8(port.pMonitorName));
  }

  count = EnumerateAll("EnumPrintersW", area, [](BYTE* a, DWORD n, DWORD* need, DWORD* got) {
    return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, a, n, need, got);
  });
  if (count < 0) return 1;
  for (long i = 0; i < count; ++i) {
    const PRINTER_INFO_2W& printer = reinterpret_cast<PRINTER_INFO_2W*>(area.data())[i];
    Report("printer: " + Utf8(printer.pPrinterName) + "\t" + Utf8(printer.pPortName) + "\t" +
           Utf8(printer.pDriverName));
  }
  std::fflush(stdout);
  return 0;
}
