#include "transfer.h"

#include <algorithm>
#include <climits>

namespace telvor::client {
namespace {

// Milliseconds left until `deadline_ms`, capped to what a wait takes; 0 once
// it has passed.
int LeftUntil(Platform& platform, std::int64_t deadline_ms) {
  const std::int64_t left = deadline_ms - platform.NowMs();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

}  // namespace

bool ConnectWithin(Platform& platform, SocketHandle socket, const char* address, std::uint16_t port,
                   int time_limit_ms) {
  const std::int64_t deadline = platform.NowMs() + time_limit_ms;
  Step step = platform.StartConnect(socket, address, port);
  while (step == Step::kWouldBlock) {
    // Once the deadline has passed this is one last look, which reports the
    // time-out in the platform's own error code.
    if (platform.WaitFor(socket, Readiness::kConnected, LeftUntil(platform, deadline)) !=
        Waited::kReady) {
      return false;
    }
    step = platform.FinishConnect(socket);
  }
  return step == Step::kDone;
}

IoStatus SendAll(Platform& platform, SocketHandle socket, const char* data, std::size_t size,
                 int time_limit_ms) {
  std::int64_t deadline = platform.NowMs() + time_limit_ms;
  std::size_t sent = 0;
  while (sent < size) {
    std::size_t count = 0;
    const Step step = platform.SendSome(socket, data + sent, size - sent, &count);
    if (step == Step::kDone && count > 0) {
      sent += std::min(count, size - sent);
      deadline = platform.NowMs() + time_limit_ms;  // progress
      continue;
    }
    if (step != Step::kDone && step != Step::kWouldBlock) return IoStatus::kError;
    const int left = LeftUntil(platform, deadline);
    if (left == 0) return IoStatus::kTimeout;
    const Waited waited = platform.WaitFor(socket, Readiness::kWritable, left);
    if (waited == Waited::kTimedOut) return IoStatus::kTimeout;
    if (waited == Waited::kFailed) return IoStatus::kError;
  }
  return IoStatus::kOk;
}

IoStatus ReceiveBy(Platform& platform, SocketHandle socket, char* buffer, std::size_t capacity,
                   std::int64_t deadline_ms, std::size_t* received) {
  *received = 0;
  for (;;) {
    std::size_t count = 0;
    const Step step = platform.ReceiveSome(socket, buffer, capacity, &count);
    if (step == Step::kDone && count > 0) {
      *received = std::min(count, capacity);
      return IoStatus::kOk;
    }
    if (step == Step::kClosed) return IoStatus::kClosed;
    if (step == Step::kFailed) return IoStatus::kError;
    const int left = LeftUntil(platform, deadline_ms);
    if (left == 0) return IoStatus::kTimeout;
    const Waited waited = platform.WaitFor(socket, Readiness::kReadable, left);
    if (waited == Waited::kTimedOut) return IoStatus::kTimeout;
    if (waited == Waited::kFailed) return IoStatus::kError;
  }
}

}  // namespace telvor::client
