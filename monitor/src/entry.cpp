// The monitor library's export, its host registration on POSIX systems and
// its load notification on Windows.
#include "operations.h"
#include "platform.h"
#include "quor/host.h"
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

#ifndef _WIN32
extern "C" QUOR_EXPORT BOOL WINAPI QuorRegisterHost(const QUOR_HOST* pHost) {
  return quor::RegisterHost(pHost) ? TRUE : FALSE;
}
#endif

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
