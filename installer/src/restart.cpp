#include "restart.h"

#include "platform.h"
#include "report.h"
#include "telvor_common/win_errors.h"

namespace telvor::installer {
namespace {

const char16_t kSpoolerService[] = u"Spooler";

constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceRunning = 4;

const char16_t kOpenManagerFailed[] = u"OpenSCManager error %d\n";
const char16_t kOpenServiceFailed[] = u"OpenService error %d\n";
const char16_t kQueryFailed[] = u"QueryServiceStatus error %d\n";
const char16_t kStopFailed[] = u"ControlService error %d\n";
const char16_t kStartFailed[] = u"StartService error %d\n";

// Stop, wait for stopped, start, wait for running; the handles are open.
std::uint32_t Restart(Platform& platform, Handle service, std::uint32_t stop_start) {
  // One record for the whole run: each query and the stop reply overwrite it.
  ServiceState state{};
  if (!platform.QueryService(service, &state)) return ReportLastError(kQueryFailed);
  if (state.current_state == kServiceStopped) return 0;

  if (!platform.StopService(service, &state)) return ReportLastError(kStopFailed);
  while (state.current_state != kServiceStopped) {
    platform.Sleep(state.wait_hint);
    if (!platform.QueryService(service, &state)) return platform.LastError();
    if (state.current_state == kServiceStopped) break;
    if (WaitLimitPassed(stop_start, platform.TickCount())) return win_error::kTimeout;
  }

  if (!platform.StartService(service)) return ReportLastError(kStartFailed);
  const std::uint32_t start_start = platform.TickCount();
  if (!platform.QueryService(service, &state)) return ReportLastError(kQueryFailed);
  if (state.current_state == kServiceRunning) return 0;
  for (;;) {
    platform.Sleep(state.wait_hint);
    if (!platform.QueryService(service, &state)) return ReportLastError(kQueryFailed);
    if (state.current_state == kServiceRunning) return 0;
    if (WaitLimitPassed(start_start, platform.TickCount())) return win_error::kTimeout;
  }
}

}  // namespace

bool WaitLimitPassed(std::uint32_t start, std::uint32_t now) {
  return static_cast<std::uint32_t>(now - start) > kServiceWaitLimitMs;
}

std::uint32_t RestartSpoolerService() {
  Platform& platform = CurrentPlatform();
  // Opening and the stop request count against the stop wait's limit.
  const std::uint32_t stop_start = platform.TickCount();
  const Handle manager = platform.OpenServiceManager();
  if (manager == 0) return ReportLastError(kOpenManagerFailed);

  std::uint32_t result;
  const Handle service = platform.OpenService(manager, kSpoolerService);
  if (service == 0) {
    result = ReportLastError(kOpenServiceFailed);
  } else {
    result = Restart(platform, service, stop_start);
    platform.CloseService(service);
  }
  platform.CloseService(manager);
  return result;
}

}  // namespace telvor::installer
