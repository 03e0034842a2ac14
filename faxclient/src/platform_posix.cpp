// POSIX sockets, non-blocking, and poll() for the bounded waits. Each
// operation is one call and a conversion of its result.
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

// The log holds the password: readable by its owner only.
constexpr mode_t kLogMode = S_IRUSR | S_IWUSR;

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer is an error, not SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// Records why an operation failed in `last_error` and passes `result` on.
// (A free function: the sanitizers' type checks of a member call may need a
// descriptor, and the calls that fail may be out of them.)
template <typename T>
T Failed(int& last_error, T result) {
  last_error = errno;
  return result;
}

class PosixPlatform final : public Platform {
 public:
  std::FILE* OpenLog(const char* folder) override {
    const std::string path = LogPath(folder, '/');
    // Never through a link, never blocking on a FIFO, never changing a file's
    // mode: a new log is created 0600; an existing one must be a regular
    // file, and is emptied only once it is known to be one.
    constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(path.c_str(), kFlags | O_CREAT | O_EXCL, kLogMode);
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), kFlags);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ftruncate(fd, 0) != 0 ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
      close(fd);
      return nullptr;
    }
    std::FILE* log = fdopen(fd, "w");
    if (log == nullptr) close(fd);
    return log;
  }

  std::FILE* OpenDiscard() override { return std::fopen("/dev/null", "w"); }

  std::FILE* OpenDocument(const char* path) override {
    // A regular file only: a FIFO is never waited on (opened without
    // blocking, then refused), and POSIX opens a directory for reading
    // where Windows does not.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
      close(fd);
      return nullptr;
    }
    std::FILE* document = fdopen(fd, "rb");
    if (document == nullptr) close(fd);
    return document;
  }

  bool StartSockets() override { return true; }
  void StopSockets() override {}

  SocketHandle OpenSocket() override {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return Failed(last_error_, kNoSocket);
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
      Failed(last_error_, 0);
      close(fd);
      return kNoSocket;
    }
    return fd;
  }

  Step StartConnect(SocketHandle socket, const char* address, std::uint16_t port) override {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (inet_aton(address, &peer.sin_addr) == 0) {
      last_error_ = EADDRNOTAVAIL;
      return Step::kFailed;
    }
    if (connect(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) ==
        0) {
      return Step::kDone;
    }
    return errno == EINPROGRESS || errno == EINTR ? Step::kWouldBlock
                                                  : Failed(last_error_, Step::kFailed);
  }

  Step FinishConnect(SocketHandle socket) override {
    const int fd = static_cast<int>(socket);
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
      return Failed(last_error_, Step::kFailed);
    if (error != 0) {
      last_error_ = error;
      return Step::kFailed;
    }
    sockaddr_in peer{};
    socklen_t peer_length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) == 0) {
      return Step::kDone;
    }
    return errno == ENOTCONN ? Step::kWouldBlock : Failed(last_error_, Step::kFailed);
  }

  Step SendSome(SocketHandle socket, const char* data, std::size_t size,
                std::size_t* sent) override {
    *sent = 0;
    const ssize_t n = send(static_cast<int>(socket), data, size, kSendFlags);
    if (n >= 0) {
      *sent = static_cast<std::size_t>(n);
      return Step::kDone;
    }
    return WouldBlock(errno) ? Step::kWouldBlock : Failed(last_error_, Step::kFailed);
  }

  Step ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity,
                   std::size_t* received) override {
    *received = 0;
    const ssize_t n = recv(static_cast<int>(socket), buffer, capacity, 0);
    if (n > 0) {
      *received = static_cast<std::size_t>(n);
      return Step::kDone;
    }
    if (n == 0) return Step::kClosed;
    return WouldBlock(errno) ? Step::kWouldBlock : Failed(last_error_, Step::kFailed);
  }

  Waited WaitFor(SocketHandle socket, Readiness readiness, int timeout_ms) override {
    pollfd entry{};
    entry.fd = static_cast<int>(socket);
    entry.events = readiness == Readiness::kReadable ? POLLIN : POLLOUT;
    const int n = poll(&entry, 1, timeout_ms);
    if (n > 0) return Waited::kReady;  // an error condition shows in the next step
    if (n == 0) {
      last_error_ = ETIMEDOUT;
      return Waited::kTimedOut;
    }
    // Interrupted: the caller tries again within its deadline.
    return errno == EINTR ? Waited::kReady : Failed(last_error_, Waited::kFailed);
  }

  void CloseSocket(SocketHandle socket) override { close(static_cast<int>(socket)); }

  int LastError() override { return last_error_; }

  std::int64_t NowMs() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }

 private:
  int last_error_ = 0;
};

}  // namespace

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace telvor::client
