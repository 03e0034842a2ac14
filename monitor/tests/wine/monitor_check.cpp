// Registers quor.dll with the spooler as the monitor "TelvorMon" and checks
// that the spooler, which loads it, lists the port "FX:" at levels 1 and 2.
// Copies quor.dll and telvor.dll from this program's directory into the
// system directory first, as the installer does; unregisters at the end.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kMonitorName[] = L"TelvorMon";
#ifdef _WIN64
const wchar_t kEnvironment[] = L"Windows x64";
#else
const wchar_t kEnvironment[] = L"Windows NT x86";
#endif
const wchar_t kMonitorLibrary[] = L"quor.dll";
const wchar_t kClientLibrary[] = L"telvor.dll";
const wchar_t kPortName[] = L"FX:";
const wchar_t kDescription[] = L"HylaFAX Server";
constexpr DWORD kMonitorAlreadyInstalled = 3006;

int failures = 0;

void Check(bool ok, const char* what, DWORD error = 0) {
  if (ok) {
    std::printf("ok: %s\n", what);
  } else {
    ++failures;
    std::printf("FAILED: %s (error %lu)\n", what, error);
  }
}

std::wstring Directory(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

bool CopyBeside(const std::wstring& from_directory, const std::wstring& to_directory,
                const wchar_t* name) {
  const std::wstring from = from_directory + L"\\" + name;
  const std::wstring to = to_directory + L"\\" + name;
  return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

// The spooler's two-call pattern: ask for the size, then fetch.
bool EnumeratePorts(DWORD level, std::vector<BYTE>* buffer, DWORD* count) {
  DWORD needed = 0;
  *count = 0;
  if (EnumPortsW(nullptr, level, nullptr, 0, &needed, count)) return false;
  const DWORD error = GetLastError();
  Check(
      error == ERROR_INSUFFICIENT_BUFFER && needed > 0,
      level == 1 ? "EnumPortsW level 1 asks for a buffer" : "EnumPortsW level 2 asks for a buffer",
      error);
  buffer->assign(needed, 0);
  return EnumPortsW(nullptr, level, buffer->data(), needed, &needed, count) != 0;
}

}  // namespace

int main() {
  wchar_t module[MAX_PATH];
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring here = Directory(module);
  Check(CopyBeside(here, system, kMonitorLibrary), "quor.dll copied into the system directory",
        GetLastError());
  Check(CopyBeside(here, system, kClientLibrary), "telvor.dll copied into the system directory",
        GetLastError());

  MONITOR_INFO_2W info;
  info.pName = const_cast<LPWSTR>(kMonitorName);
  info.pEnvironment = const_cast<LPWSTR>(kEnvironment);
  info.pDLLName = const_cast<LPWSTR>(kMonitorLibrary);
  BOOL added = AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  if (!added && GetLastError() == kMonitorAlreadyInstalled) {
    // Left by an interrupted run: register afresh.
    DeleteMonitorW(nullptr, const_cast<LPWSTR>(kEnvironment), const_cast<LPWSTR>(kMonitorName));
    added = AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  }
  Check(added, "AddMonitorW TelvorMon with quor.dll", GetLastError());

  std::vector<BYTE> buffer;
  DWORD count = 0;
  bool listed = false;
  if (EnumeratePorts(1, &buffer, &count)) {
    const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      std::printf("level 1: %ls\n", ports[i].pName);
      listed = listed || lstrcmpW(ports[i].pName, kPortName) == 0;
    }
  }
  Check(listed, "EnumPortsW level 1 lists FX:", GetLastError());

  listed = false;
  if (EnumeratePorts(2, &buffer, &count)) {
    const auto* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      const PORT_INFO_2W& port = ports[i];
      std::printf("level 2: %ls | %ls | %ls | type %lu\n", port.pPortName,
                  port.pMonitorName ? port.pMonitorName : L"",
                  port.pDescription ? port.pDescription : L"", port.fPortType);
      if (lstrcmpW(port.pPortName, kPortName) == 0) {
        listed = port.pMonitorName && lstrcmpW(port.pMonitorName, kMonitorName) == 0 &&
                 port.pDescription && lstrcmpW(port.pDescription, kDescription) == 0 &&
                 (port.fPortType & PORT_TYPE_WRITE) != 0;
      }
    }
  }
  Check(listed, "EnumPortsW level 2 lists FX: of TelvorMon, HylaFAX Server, written to",
        GetLastError());

  Check(DeleteMonitorW(nullptr, const_cast<LPWSTR>(kEnvironment),
                       const_cast<LPWSTR>(kMonitorName)) != 0,
        "DeleteMonitorW TelvorMon", GetLastError());
  if (failures > 0) std::printf("%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
