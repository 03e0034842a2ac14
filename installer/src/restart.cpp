#include "restart.h"

#include "report.h"

namespace telvor::installer {
namespace {

const char16_t kSpoolerService[] = u"Spooler";

constexpr std::uint32_t kScManagerConnect = 0x1;
constexpr std::uint32_t kServiceQueryStatus = 0x4;
constexpr std::uint32_t kServiceStart = 0x10;
constexpr std::uint32_t kServiceStop = 0x20;
constexpr std::uint32_t kServiceControlStop = 1;
constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceRunning = 4;

const char16_t kOpenManagerFailed[] = u"OpenSCManager error %d\n";
const char16_t kOpenServiceFailed[] = u"OpenService error %d\n";
const char16_t kQueryFailed[] = u"QueryServiceStatus error %d\n";
const char16_t kStopFailed[] = u"ControlService error %d\n";
const char16_t kStartFailed[] = u"StartService error %d\n";

// Stop, wait for stopped, start, wait for running; the handles are open.
std::uint32_t Restart(InstallerOperations& ops, Handle service, std::uint32_t stop_start) {
  // One record for the whole run: each query and the stop reply overwrite it.
  ServiceStatus status{};
  if (!ops.QueryServiceStatus(service, &status)) return ReportLastError(ops, kQueryFailed);
  if (status.current_state == kServiceStopped) return 0;

  if (!ops.ControlService(service, kServiceControlStop, &status)) {
    return ReportLastError(ops, kStopFailed);
  }
  while (status.current_state != kServiceStopped) {
    ops.Sleep(status.wait_hint);
    if (!ops.QueryServiceStatus(service, &status)) return ops.GetLastError();
    if (status.current_state == kServiceStopped) break;
    if (WaitLimitPassed(stop_start, ops.GetTickCount())) return kErrorTimeout;
  }

  if (!ops.StartServiceW(service)) return ReportLastError(ops, kStartFailed);
  const std::uint32_t start_start = ops.GetTickCount();
  if (!ops.QueryServiceStatus(service, &status)) return ReportLastError(ops, kQueryFailed);
  if (status.current_state == kServiceRunning) return 0;
  for (;;) {
    ops.Sleep(status.wait_hint);
    if (!ops.QueryServiceStatus(service, &status)) return ReportLastError(ops, kQueryFailed);
    if (status.current_state == kServiceRunning) return 0;
    if (WaitLimitPassed(start_start, ops.GetTickCount())) return kErrorTimeout;
  }
}

}  // namespace

bool WaitLimitPassed(std::uint32_t start, std::uint32_t now) {
  return static_cast<std::uint32_t>(now - start) > kServiceWaitLimitMs;
}

std::uint32_t RestartSpoolerService(InstallerOperations& ops) {
  // Opening and the stop request count against the stop wait's limit.
  const std::uint32_t stop_start = ops.GetTickCount();
  const Handle manager = ops.OpenSCManagerW(kScManagerConnect);
  if (manager == 0) return ReportLastError(ops, kOpenManagerFailed);

  std::uint32_t result;
  const Handle service = ops.OpenServiceW(manager, kSpoolerService,
                                          kServiceQueryStatus | kServiceStart | kServiceStop);
  if (service == 0) {
    result = ReportLastError(ops, kOpenServiceFailed);
  } else {
    result = Restart(ops, service, stop_start);
    ops.CloseServiceHandle(service);
  }
  ops.CloseServiceHandle(manager);
  return result;
}

}  // namespace telvor::installer
