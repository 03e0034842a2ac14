#include "operations.h"

#include <new>

#include "job.h"
#include "person.h"
#include "platform.h"
#include "port_lifetime.h"
#include "ports.h"
#include "settings.h"
#include "telvor_common/win_errors.h"

namespace quor {

LPMONITOR2 InitializeMonitor(PMONITORINIT pMonitorInit, PHANDLE phMonitor) {
  void* memory = CurrentPlatform().AllocateTable(sizeof(MONITOR2));
  if (!memory) return nullptr;
  auto* table = new (memory) MONITOR2{};
  table->cbSize = sizeof(MONITOR2);
  table->pfnEnumPorts = EnumPorts;
  table->pfnOpenPort = OpenPort;
  table->pfnStartDocPort = StartDocPort;
  table->pfnWritePort = WritePort;
  table->pfnReadPort = ReadPort;
  table->pfnEndDocPort = EndDocPort;
  table->pfnClosePort = ClosePort;
  table->pfnXcvOpenPort = XcvOpenPort;
  table->pfnXcvDataPort = XcvDataPort;
  table->pfnXcvClosePort = XcvClosePort;
  table->pfnShutdown = Shutdown;
  *phMonitor = pMonitorInit;
  return table;
}

// No port configuration is offered: no transceive handle is ever issued.
BOOL WINAPI XcvOpenPort(HANDLE, LPCWSTR, ACCESS_MASK, PHANDLE) { return FALSE; }

DWORD WINAPI XcvDataPort(HANDLE, LPCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD) {
  return telvor::win_error::kSuccess;
}

BOOL WINAPI XcvClosePort(HANDLE hXcv) {
  CurrentPlatform().CutFileHere(hXcv);
  CurrentPlatform().CloseFile(hXcv);
  return TRUE;
}

// The table and the bound library stay until the process ends.
VOID WINAPI Shutdown(HANDLE) {}

void ResetMonitorState() {
  ResetSettings();
  ResetPortLifetime();
  ResetJob();
  ResetPerson();
}

}  // namespace quor
