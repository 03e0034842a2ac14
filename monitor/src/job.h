// One print job on the open port: captured into a spool file, then sent with
// sendfax.
#pragma once

#include <cstdint>

#include "quor/spooler.h"

namespace quor {

BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                         LPBYTE pDocInfo);
BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI EndDocPort(HANDLE hPort);

// Back to the state at load: no job, no number or note kept.
void ResetJob();

}  // namespace quor
