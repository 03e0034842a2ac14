// The calls the spooler process offers its monitor, exported from the host's
// executable: the monitor looks them up in the process when it needs them.
#include "print_queue.h"
#include "quor/spooler.h"

namespace {

thread_local DWORD last_error = 0;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void SetLastError(DWORD dwErrCode) {
  last_error = dwErrCode;
}

__attribute__((visibility("default"))) DWORD GetLastError(void) { return last_error; }

__attribute__((visibility("default"))) BOOL OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter,
                                                         LPPRINTER_DEFAULTSW) {
  auto* queue = telvor::spoolhost::ServedPrintQueue();
  std::uint32_t error = telvor::spoolhost::kPrinterInvalidName;
  if (queue && queue->Open(pPrinterName, phPrinter, &error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

__attribute__((visibility("default"))) BOOL SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level,
                                                    LPBYTE pJob, DWORD Command) {
  auto* queue = telvor::spoolhost::ServedPrintQueue();
  std::uint32_t error = telvor::spoolhost::kPrinterInvalidHandle;
  if (queue && queue->SetJob(hPrinter, JobId, Level, pJob, Command, &error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

__attribute__((visibility("default"))) BOOL ClosePrinter(HANDLE hPrinter) {
  auto* queue = telvor::spoolhost::ServedPrintQueue();
  std::uint32_t error = telvor::spoolhost::kPrinterInvalidHandle;
  if (queue && queue->Close(hPrinter, &error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

}  // extern "C"
