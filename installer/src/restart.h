// Stops the print spooler service and starts it again.
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
// Shows its failures, except a failed query during the stop wait and the
// timeouts.
std::uint32_t RestartSpoolerService();

}  // namespace telvor::installer
