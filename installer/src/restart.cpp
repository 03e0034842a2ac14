#include "restart.h"

#include "platform.h"
#include "progress.h"
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

// A result and the message that goes with it; none for success and for the
// failures that pass silently.
struct Outcome {
  std::uint32_t code;
  const char16_t* failure;
};

constexpr Outcome kDone{0, nullptr};

Outcome Failed(Platform& platform, const char16_t* failure) {
  return Outcome{platform.LastError(), failure};
}

// Runs `work` on the opened "Spooler" service and closes both handles after
// it, the service's first.
template <typename Work>
Outcome OnSpooler(Platform& platform, Work work) {
  const Handle manager = platform.OpenServiceManager();
  if (manager == 0) return Failed(platform, kOpenManagerFailed);
  const Handle service = platform.OpenService(manager, kSpoolerService);
  const Outcome outcome = service != 0 ? work(service) : Failed(platform, kOpenServiceFailed);
  if (service != 0) platform.CloseService(service);
  platform.CloseService(manager);
  return outcome;
}

// Waits for the running state; the limit counts from `since`.
Outcome WaitUntilRunning(Platform& platform, Handle service, ServiceState& state,
                         std::uint32_t since) {
  if (!platform.QueryService(service, &state)) return Failed(platform, kQueryFailed);
  if (state.current_state == kServiceRunning) return kDone;
  for (;;) {
    platform.Sleep(state.wait_hint);
    if (!platform.QueryService(service, &state)) return Failed(platform, kQueryFailed);
    if (state.current_state == kServiceRunning) return kDone;
    if (WaitLimitPassed(since, platform.TickCount())) return Outcome{win_error::kTimeout, nullptr};
  }
}

// Stop, wait for stopped, start, wait for running.
Outcome Restart(Platform& platform, Handle service, std::uint32_t stop_start) {
  // One record for the whole run: each query and the stop reply overwrite it.
  ServiceState state{};
  if (!platform.QueryService(service, &state)) return Failed(platform, kQueryFailed);
  if (state.current_state == kServiceStopped) return kDone;

  if (!platform.StopService(service, &state)) return Failed(platform, kStopFailed);
  while (state.current_state != kServiceStopped) {
    platform.Sleep(state.wait_hint);
    if (!platform.QueryService(service, &state)) return Failed(platform, nullptr);
    if (state.current_state == kServiceStopped) break;
    if (WaitLimitPassed(stop_start, platform.TickCount())) {
      return Outcome{win_error::kTimeout, nullptr};
    }
  }

  if (!platform.StartService(service)) return Failed(platform, kStartFailed);
  return WaitUntilRunning(platform, service, state, platform.TickCount());
}

Outcome StartIfStopped(Platform& platform, Handle service) {
  ServiceState state{};
  if (!platform.QueryService(service, &state)) return Failed(platform, kQueryFailed);
  if (state.current_state == kServiceRunning) return kDone;
  if (state.current_state == kServiceStopped && !platform.StartService(service)) {
    return Failed(platform, kStartFailed);
  }
  // Starting, by us or by someone else.
  const Outcome outcome = WaitUntilRunning(platform, service, state, platform.TickCount());
  // Not running in time is said too: the installation cannot go on.
  if (outcome.code == win_error::kTimeout) return Outcome{outcome.code, kStartFailed};
  return outcome;
}

}  // namespace

bool WaitLimitPassed(std::uint32_t start, std::uint32_t now) {
  return static_cast<std::uint32_t>(now - start) > kServiceWaitLimitMs;
}

std::uint32_t RestartSpoolerService() {
  Platform& platform = CurrentPlatform();
  // Opening and the stop request count against the stop wait's limit.
  const std::uint32_t stop_start = platform.TickCount();
  const Outcome outcome =
      OnSpooler(platform, [&](Handle service) { return Restart(platform, service, stop_start); });
  if (outcome.failure != nullptr) {
    PauseAnimation();
    ReportCode(outcome.failure, outcome.code);
    ResumeAnimation();
  }
  return outcome.code;
}

std::uint32_t StartSpoolerIfStopped(const char16_t** failure) {
  Platform& platform = CurrentPlatform();
  const Outcome outcome =
      OnSpooler(platform, [&](Handle service) { return StartIfStopped(platform, service); });
  *failure = outcome.failure;
  return outcome.code;
}

}  // namespace telvor::installer
