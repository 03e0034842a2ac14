// The platform operations one call uses, each a single step that never
// waits longer than it is told: the log and document files, the sockets
// library, one-shot socket operations on non-blocking sockets, a bounded wait
// and a clock. The retries, deadlines and partial sends are the core's
// (transfer.h). One Windows implementation (Winsock 2.2), one POSIX
// implementation, and fakes in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "telvor/sendfax.h"

namespace telvor::client {

// The debug log, in the caller's current directory.
inline constexpr char kLogFileName[] = TELVOR_LOG_FILE;

// The log's path: its name in `folder`, or alone (the current directory).
inline std::string LogPath(const char* folder, char separator) {
  if (folder == nullptr) return kLogFileName;
  std::string path = folder;
  if (path.back() != separator && path.back() != '/') path += separator;
  return path + kLogFileName;
}

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Result of one socket operation.
enum class Step {
  kDone,        // it happened (possibly only in part, see the count)
  kWouldBlock,  // nothing can happen now; wait and try again
  kClosed,      // the peer closed the connection (receive only)
  kFailed,      // LastError() tells why
};

// What a wait waits for.
enum class Readiness {
  kReadable,
  kWritable,
  kConnected,  // a started connect has succeeded or failed
};

enum class Waited {
  kReady,     // try the operation again (it may still find nothing to do)
  kTimedOut,  // LastError() is the platform's time-out code
  kFailed,
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Creates or truncates "telvor.log" in the current directory for writing
  // text. It holds the password: a log this call creates is readable only by
  // the account that creates it (and, on Windows, by SYSTEM and the
  // Administrators). Null when it cannot be opened, or when the name is
  // anything but a regular file (a link planted there is not followed).
  virtual std::FILE* OpenLog(const char* folder) = 0;
  // A stream that takes the log's lines and keeps none: the call goes on
  // without its log when the log cannot be opened.
  virtual std::FILE* OpenDiscard() = 0;

  // Opens the document for reading raw bytes; null when it cannot be opened
  // as a file (a directory included).
  virtual std::FILE* OpenDocument(const char* path) = 0;

  // Start-up and release of the sockets library.
  virtual bool StartSockets() = 0;
  virtual void StopSockets() = 0;

  // A non-blocking TCP socket over IPv4, or kNoSocket.
  virtual SocketHandle OpenSocket() = 0;
  // Starts connecting to dotted IPv4 `address` and `port`: kDone when
  // connected at once, kWouldBlock while in progress, kFailed.
  virtual Step StartConnect(SocketHandle socket, const char* address, std::uint16_t port) = 0;
  // After a kConnected wait: kDone connected, kWouldBlock still in progress,
  // kFailed with LastError() the connect's own error.
  virtual Step FinishConnect(SocketHandle socket) = 0;
  // Sends what the connection takes now, at most `size` bytes.
  virtual Step SendSome(SocketHandle socket, const char* data, std::size_t size,
                        std::size_t* sent) = 0;
  // Receives what has arrived, at most `capacity` bytes.
  virtual Step ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity,
                           std::size_t* received) = 0;
  // Waits until `socket` is ready as asked, at most `timeout_ms` (0: only
  // looks).
  virtual Waited WaitFor(SocketHandle socket, Readiness readiness, int timeout_ms) = 0;
  virtual void CloseSocket(SocketHandle socket) = 0;
  // Error code of the last failed socket operation.
  virtual int LastError() = 0;

  // Monotonic milliseconds.
  virtual std::int64_t NowMs() = 0;
};

// The platform this build runs on (platform_posix.cpp or platform_windows.cpp).
Platform& SystemPlatform();
// What the core calls: the system's platform unless a test put another in place.
Platform& CurrentPlatform();
// Puts `platform` in place of the system's; null restores the system's.
void UsePlatform(Platform* platform);

}  // namespace telvor::client
