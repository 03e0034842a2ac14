// The monitor library's one export and its load notification.
#include "operations.h"
#include "platform.h"
#include "quor/spooler.h"

#ifdef _WIN32
#define QUOR_EXPORT
#else
#define QUOR_EXPORT __attribute__((visibility("default")))
#endif

extern "C" QUOR_EXPORT LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit,
                                                                 PHANDLE phMonitor) {
  return quor::InitializeMonitor(pMonitorInit, phMonitor);
}

#ifdef _WIN32
// The monitor starts no threads and needs no per-thread notifications.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    quor::KeepLibraryModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
#endif
