// One print job on the port: captured into a spool file, sent with sendfax.
#pragma once

#include <cstdint>

#include "platform.h"
#include "quor/spooler.h"
#include "widths.h"

namespace quor {

// The bound fax server client: set by a successful OpenPort, released and
// cleared by ClosePort.
struct FaxLibrary {
  Handle module;
  SendFaxFunction entry;
};

struct FaxJob {
  char16_t spool_path[kPathUnits];
  Handle spool_file;
  Handle printer;
  std::uint32_t job_id;
  // Kept from the last confirmed fax-number dialog.
  char16_t fax_number[kFaxNumberUnits];
  char16_t info[kTextUnits];
  // From a successful StartDocPort to the EndDocPort that ends the job.
  bool active;
};

// Process-wide, one instance each; zero at load.
extern FaxLibrary g_fax_library;
extern FaxJob g_job;

BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);
BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                         LPBYTE pDocInfo);
BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI EndDocPort(HANDLE hPort);
BOOL WINAPI ClosePort(HANDLE hPort);

// The value of a decimal text as the platform's wide-text-to-integer call
// reads it: optional blanks and sign, then digits; 0 when there are none.
std::int32_t DecimalValue(const char16_t* text);

}  // namespace quor
