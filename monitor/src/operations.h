// The monitor's entry: the operations table the spooler drives it through.
#pragma once

#include "quor/spooler.h"

namespace quor {

// Builds a new operations table and hands back the spooler's own MONITORINIT
// address as the monitor handle. Null (handle untouched) when the table
// cannot be allocated.
LPMONITOR2 InitializeMonitor(PMONITORINIT pMonitorInit, PHANDLE phMonitor);

BOOL WINAPI XcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess,
                        PHANDLE phXcv);
DWORD WINAPI XcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                         PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded);
BOOL WINAPI XcvClosePort(HANDLE hXcv);
VOID WINAPI Shutdown(HANDLE hMonitor);

// Back to the state at load: settings, bound library and job.
void ResetMonitorState();

}  // namespace quor
