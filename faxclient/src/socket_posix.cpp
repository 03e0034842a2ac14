// POSIX sockets. Sockets are non-blocking underneath so that every wait can
// be bounded with poll(); to the caller each operation still completes or
// fails as a whole.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform.h"

namespace telvor::client {
namespace {

constexpr char kLogName[] = "telvor.log";
// The log holds the password: readable by its owner only.
constexpr mode_t kLogMode = S_IRUSR | S_IWUSR;

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer is an error, not SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif

std::int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Record why an operation failed and pass its result on.
template <typename T>
T Fail(int& last_error, T result) {
  last_error = errno;
  return result;
}

template <typename T>
T TimedOut(int& last_error, T result) {
  last_error = ETIMEDOUT;
  return result;
}

class PosixPlatform final : public Platform {
 public:
  std::FILE* OpenLog() override {
    const int fd = open(kLogName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kLogMode);
    if (fd < 0) return nullptr;
    fchmod(fd, kLogMode);  // an older log may have been readable by others
    std::FILE* log = fdopen(fd, "w");
    if (log == nullptr) close(fd);
    return log;
  }

  bool Startup() override { return true; }
  void Cleanup() override {}

  SocketHandle CreateSocket() override {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return Fail(last_error_, kNoSocket);
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
      Fail(last_error_, false);
      close(fd);
      return kNoSocket;
    }
    return fd;
  }

  bool Connect(SocketHandle socket, const char* address, std::uint16_t port,
               int timeout_ms) override {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (inet_aton(address, &peer.sin_addr) == 0) {
      last_error_ = EADDRNOTAVAIL;
      return false;
    }
    const int fd = static_cast<int>(socket);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (errno != EINPROGRESS) return Fail(last_error_, false);
    const int ready = Wait(fd, POLLOUT, timeout_ms);
    if (ready <= 0) return ready == 0 ? TimedOut(last_error_, false) : Fail(last_error_, false);
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return Fail(last_error_, false);
    if (error != 0) {
      last_error_ = error;
      return false;
    }
    return true;
  }

  IoStatus SendAll(SocketHandle socket, const char* data, std::size_t size,
                   int timeout_ms) override {
    const int fd = static_cast<int>(socket);
    std::size_t sent = 0;
    while (sent < size) {
      const ssize_t n = send(fd, data + sent, size - sent, kSendFlags);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return Fail(last_error_, IoStatus::kError);
      }
      const int ready = Wait(fd, POLLOUT, timeout_ms);
      if (ready == 0) return TimedOut(last_error_, IoStatus::kTimeout);
      if (ready < 0) return Fail(last_error_, IoStatus::kError);
    }
    return IoStatus::kOk;
  }

  IoStatus Receive(SocketHandle socket, char* buffer, std::size_t capacity, int timeout_ms,
                   std::size_t* received) override {
    const int fd = static_cast<int>(socket);
    *received = 0;
    for (;;) {
      const ssize_t n = recv(fd, buffer, capacity, 0);
      if (n > 0) {
        *received = static_cast<std::size_t>(n);
        return IoStatus::kOk;
      }
      if (n == 0) return IoStatus::kClosed;
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return Fail(last_error_, IoStatus::kError);
      }
      const int ready = Wait(fd, POLLIN, timeout_ms);
      if (ready == 0) return TimedOut(last_error_, IoStatus::kTimeout);
      if (ready < 0) return Fail(last_error_, IoStatus::kError);
    }
  }

  void CloseSocket(SocketHandle socket) override { close(static_cast<int>(socket)); }

  int LastError() override { return last_error_; }

  std::int64_t NowMs() override { return MonotonicMs(); }

 private:
  // Waits until `fd` is ready for `events` or `timeout_ms` has passed: 1
  // ready (or in error, which the next call reports), 0 timed out, -1 failed.
  static int Wait(int fd, short events, int timeout_ms) {
    const std::int64_t deadline = MonotonicMs() + timeout_ms;
    for (;;) {
      pollfd entry{};
      entry.fd = fd;
      entry.events = events;
      const std::int64_t left = deadline - MonotonicMs();
      if (left <= 0) return 0;
      const int n = poll(&entry, 1, static_cast<int>(left));
      if (n > 0) return 1;
      if (n == 0) return 0;
      if (errno != EINTR) return -1;
    }
  }

  int last_error_ = 0;
};

}  // namespace

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace telvor::client
