// Stops the print spooler service and starts it again; starts it when it is
// not running.
#pragma once

#include <cstdint>

namespace telvor::installer {

// Each wait gives up when more than this has passed since its start tick.
constexpr std::uint32_t kServiceWaitLimitMs = 60000;

// True when more than the wait limit lies between `start` and `now`, two
// readings of the 32-bit millisecond tick count (which wraps).
bool WaitLimitPassed(std::uint32_t start, std::uint32_t now);

// 0 when the spooler was restarted or was already stopped, 1460 (timeout)
// when a wait passed its limit, otherwise the error code of the failed call.
// Shows its failures, with the bar standing still, except a failed query
// during the stop wait and the timeouts.
std::uint32_t RestartSpoolerService();

// Starts the spooler when it is stopped and waits until it runs. 0 when it
// runs; otherwise the error code (1460 when it did not come up in time) and
// in `failure` the message for it, which is not shown here.
std::uint32_t StartSpoolerIfStopped(const char16_t** failure);

}  // namespace telvor::installer
