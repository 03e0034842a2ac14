// POSIX socket helpers of the embedded fax server. Every socket is
// non-blocking and every wait also watches the server's wake-up pipe, so that
// Stop() ends any wait at once, whatever a client does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace telvor::faxserver {

enum class WaitResult { kReady, kTimeout, kStopped, kError };

// Waits until `fd` reports one of `events` (poll flags), the wake-up pipe
// `wake_fd` becomes readable, or `timeout_ms` passes (-1: no limit). A
// negative `fd` waits on the pipe alone (an interruptible pause).
WaitResult WaitFor(int fd, short events, int wake_fd, int timeout_ms);

// Waits for a connection on `listener` while watching `control` for its
// peer's close: kReady when a connection is pending, kError when the control
// connection has ended.
WaitResult WaitForConnection(int listener, int control, int wake_fd, int timeout_ms);

// A listening (or, with `listen` false, only bound) IPv4 TCP socket on
// `address`:`port` (0: any free port). -1 with a reason on failure.
int OpenListener(const std::string& address, std::uint16_t port, bool listen, std::string* error);

// The port a bound socket has, in host order (0 when unknown).
std::uint16_t BoundPort(int fd);

// Accepts one connection as a non-blocking socket with TCP_NODELAY set, so
// that every send leaves as a segment of its own. -1 when none is pending.
int AcceptConnection(int listener, std::string* peer);

// Receives at most `capacity` bytes once data is there. Returns the count, 0
// at the peer's close, -1 on error, timeout or stop (`why` tells which).
long ReceiveSome(int fd, char* buffer, std::size_t capacity, int wake_fd, int timeout_ms,
                 WaitResult* why);

// Sends all of `data`; false when the peer is gone, the send stalls for
// `timeout_ms` or the server stops. Never raises SIGPIPE.
bool SendAll(int fd, const char* data, std::size_t size, int wake_fd, int timeout_ms);

// Closes with a reset instead of an orderly close, so that the peer's next
// send fails at once.
void Abort(int fd);

void Close(int fd);

}  // namespace telvor::faxserver
