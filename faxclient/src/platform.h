// The platform operations one call uses: the log file, the sockets library,
// blocking-looking TCP operations with time limits, and a clock. One Windows
// implementation (Winsock 2.2), one POSIX implementation, and fakes in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace telvor::client {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

enum class IoStatus {
  kOk,
  kClosed,   // the peer closed the connection (receive only)
  kError,    // LastError() tells why
  kTimeout,  // the time limit passed first
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Creates or truncates "telvor.log" in the current directory for writing
  // text. Null when it cannot be opened.
  virtual std::FILE* OpenLog() = 0;

  // Start-up and release of the sockets library.
  virtual bool Startup() = 0;
  virtual void Cleanup() = 0;

  // A TCP socket over IPv4, or kNoSocket.
  virtual SocketHandle CreateSocket() = 0;
  // Connects to dotted IPv4 `address` and `port` within `timeout_ms`; false
  // on failure or time-out, with LastError() telling which.
  virtual bool Connect(SocketHandle socket, const char* address, std::uint16_t port,
                       int timeout_ms) = 0;
  // Sends all `size` bytes; kTimeout when the peer takes none of them for
  // `timeout_ms`.
  virtual IoStatus SendAll(SocketHandle socket, const char* data, std::size_t size,
                           int timeout_ms) = 0;
  // Receives up to `capacity` bytes, waiting at most `timeout_ms`.
  virtual IoStatus Receive(SocketHandle socket, char* buffer, std::size_t capacity, int timeout_ms,
                           std::size_t* received) = 0;
  virtual void CloseSocket(SocketHandle socket) = 0;
  // Error code of the last failed socket operation.
  virtual int LastError() = 0;

  // Monotonic milliseconds, for the time limit of a whole reply.
  virtual std::int64_t NowMs() = 0;
};

// The platform this build runs on (socket_posix.cpp or socket_win32.cpp).
Platform& SystemPlatform();

}  // namespace telvor::client
