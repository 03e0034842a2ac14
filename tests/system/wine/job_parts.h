// What the Windows job hosts share: the spooler's registry functions on a
// real key, the printer as Wine's spooler records it, the document, the
// files a job leaves, and the checks' report.
#pragma once

// The spooler's records first: they choose the layout of <windows.h>.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "quor/spooler.h"
#include "spooler.h"
#include "telvor_common/names.h"

namespace telvor_wine_job {

inline const wchar_t kPrinterName[] = L"Telvor Printer";
// Where Wine's spooler keeps its printers: a printer recorded there can be
// opened with OpenPrinterW (Wine's AddPrinterW cannot add one here).
inline const wchar_t kPrintersKey[] = L"System\\CurrentControlSet\\Control\\Print\\Printers";

inline const wchar_t kMonitorLibrary[] = L"quor.dll";
inline const char kEntryPoint[] = "InitializePrintMonitor2";
// The windows the hosts answer, found by their captions.
inline const wchar_t kSetupCaption[] = L"Telvor Printer Setup";
inline const wchar_t kFaxNumberCaption[] = L"Telvor Printer";
inline const wchar_t* const kMessageCaptions[] = {L"TelvMon", L"TelvMon2"};
// What they type into the setup and fax-number dialogs.
inline const wchar_t kSetupUser[] = L"wine";
inline const wchar_t kSetupPassword[] = L"secret";
inline const wchar_t kSetupMail[] = L"wine@example.com";
inline const wchar_t kSetupAttempts[] = L"2";
inline const wchar_t kDialAttempts[] = L"4";

inline const char kDocument[] =
    "%!PS-Adobe-3.0\n"
    "/Helvetica findfont 24 scalefont setfont\n"
    "72 700 moveto (Printed through quor.dll under Wine) show\n"
    "showpage\n";

// Where the checks are reported (a service has no standard output), and
// how many failed.
inline std::FILE* g_report = stdout;
inline int g_failures = 0;

inline void Check(bool ok, const std::string& what) {
  std::fprintf(g_report, "%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  std::fflush(g_report);
  if (!ok) ++g_failures;
}

inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// The registry functions the monitor calls, on a real key.
inline HKEY Key(HANDLE key) { return static_cast<HKEY>(key); }

inline LONG WINAPI QueryInfoKey(HANDLE key, PDWORD sub_keys, PDWORD longest_sub_key, PDWORD values,
                                PDWORD longest_name, PDWORD longest_data, PDWORD security_size,
                                PFILETIME write_time, HANDLE) {
  return RegQueryInfoKeyW(Key(key), nullptr, nullptr, nullptr, sub_keys, longest_sub_key, nullptr,
                          values, longest_name, longest_data, security_size, write_time);
}

inline LONG WINAPI SetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size,
                            HANDLE) {
  return RegSetValueExW(Key(key), name, 0, type, data, size);
}

inline LONG WINAPI EnumValue(HANDLE key, DWORD index, LPWSTR name, PDWORD name_capacity,
                             PDWORD type, PBYTE data, PDWORD data_capacity, HANDLE) {
  return RegEnumValueW(Key(key), index, name, name_capacity, nullptr, type, data, data_capacity);
}

inline bool SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

inline std::wstring GetText(HKEY key, const wchar_t* name) {
  wchar_t data[256] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) !=
      ERROR_SUCCESS) {
    return L"(missing)";
  }
  return data;
}

// The printer whose job this is, recorded the way Wine's spooler keeps one.
inline bool RecordPrinter() {
  HKEY printer = nullptr;
  const std::wstring path = std::wstring(kPrintersKey) + L"\\" + kPrinterName;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &printer, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = SetText(printer, L"Name", kPrinterName) && SetText(printer, L"Port", L"FX:") &&
            SetText(printer, L"Printer Driver", L"HP LaserJet 4/4M PS") &&
            SetText(printer, L"Print Processor", L"winprint") &&
            SetText(printer, L"Datatype", L"RAW");
  const DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
  ok = ok && RegSetValueExW(printer, L"Attributes", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&attributes),
                            sizeof attributes) == ERROR_SUCCESS;
  RegCloseKey(printer);
  return ok;
}

inline void ForgetPrinter() {
  const std::wstring path = std::wstring(kPrintersKey) + L"\\" + kPrinterName;
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
}

class MemorySource : public telvor::spoolhost::ByteSource {
 public:
  long long Read(std::uint8_t* buffer, std::size_t size) override {
    std::size_t count = sizeof kDocument - 1 - offset_;
    if (count > size) count = size;
    std::memcpy(buffer, kDocument + offset_, count);
    offset_ += count;
    return static_cast<long long>(count);
  }

 private:
  std::size_t offset_ = 0;
};

inline bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::wstring Widen(const char* text) {
  std::wstring out;
  for (; *text; ++text) out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return out;
}

// The files in `directory`, by name.
inline std::vector<std::wstring> TempFiles(const std::wstring& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// The monitor's own folder when ProgramData is `program_data`.
inline std::wstring SpoolFolderIn(const std::wstring& program_data) {
  return program_data + L"\\" + reinterpret_cast<const wchar_t*>(telvor::kDataFolderName) + L"\\" +
         reinterpret_cast<const wchar_t*>(telvor::kSpoolFolderName);
}

// Removes the monitor's folder with the files `left` in it, and `program_data`.
inline void RemoveSpoolFolder(const std::wstring& program_data,
                              const std::vector<std::wstring>& left) {
  const std::wstring spool = SpoolFolderIn(program_data);
  for (const auto& name : left) DeleteFileW((spool + L"\\" + name).c_str());
  RemoveDirectoryW(spool.c_str());
  RemoveDirectoryW(
      (program_data + L"\\" + reinterpret_cast<const wchar_t*>(telvor::kDataFolderName)).c_str());
  RemoveDirectoryW(program_data.c_str());
}

}  // namespace telvor_wine_job
