// Whole socket operations with time limits, built once over the platform's
// one-shot steps: retries after "would block", partial sends and the
// deadline arithmetic live here, not in the platform layers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

namespace telvor::client {

enum class IoStatus {
  kOk,
  kClosed,   // the peer closed the connection (receive only)
  kError,    // the platform's LastError() tells why
  kTimeout,  // the time limit passed first
};

// Connects within `time_limit_ms`; false on failure or time-out, with the
// platform's LastError() telling which.
bool ConnectWithin(Platform& platform, SocketHandle socket, const char* address, std::uint16_t port,
                   int time_limit_ms);

// Sends all `size` bytes; kTimeout when the peer takes nothing for
// `time_limit_ms` (every byte taken starts the limit afresh).
IoStatus SendAll(Platform& platform, SocketHandle socket, const char* data, std::size_t size,
                 int time_limit_ms);

// Receives up to `capacity` bytes, waiting until `deadline_ms` of the
// platform's clock at the latest.
IoStatus ReceiveBy(Platform& platform, SocketHandle socket, char* buffer, std::size_t capacity,
                   std::int64_t deadline_ms, std::size_t* received);

}  // namespace telvor::client
