// The port's lifetime: OpenPort binds the fax server client and opens the
// placeholder file that serves as port handle; ClosePort releases both.
#pragma once

#include "platform.h"
#include "quor/spooler.h"

namespace quor {

BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);
BOOL WINAPI ClosePort(HANDLE hPort);

// sendfax as the last successful OpenPort bound it; null before that and
// after ClosePort.
SendFaxFunction BoundSendFax();
// sendfax_job, when the bound client has it.
SendFaxJobFunction BoundSendFaxJob();

// Back to the state at load: no library bound.
void ResetPortLifetime();

}  // namespace quor
