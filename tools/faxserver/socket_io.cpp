#include "socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace telvor::faxserver {

WaitResult WaitFor(int fd, short events, int wake_fd, int timeout_ms) {
  pollfd fds[2] = {};
  fds[0].fd = wake_fd;
  fds[0].events = POLLIN;
  fds[1].fd = fd;  // poll skips a negative descriptor
  fds[1].events = events;
  for (;;) {
    const int n = poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return WaitResult::kError;
    if (n == 0) return WaitResult::kTimeout;
    if (fds[0].revents != 0) return WaitResult::kStopped;
    return WaitResult::kReady;
  }
}

WaitResult WaitForConnection(int listener, int control, int wake_fd, int timeout_ms) {
  pollfd fds[3] = {};
  fds[0].fd = wake_fd;
  fds[0].events = POLLIN;
  fds[1].fd = listener;
  fds[1].events = POLLIN;
  // Only the close: a command sent meanwhile stays unread until the transfer.
  fds[2].fd = control;
  fds[2].events = POLLRDHUP;
  for (;;) {
    const int n = poll(fds, 3, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return WaitResult::kError;
    if (n == 0) return WaitResult::kTimeout;
    if (fds[0].revents != 0) return WaitResult::kStopped;
    if (fds[1].revents != 0) return WaitResult::kReady;
    return WaitResult::kError;
  }
}

int OpenListener(const std::string& address, std::uint16_t port, bool listen, std::string* error) {
  const std::string where = address + ":" + std::to_string(port);
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    *error = "not a dotted IPv4 address: " + address;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  // A restarted server must not wait for the last run's connections to time out.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    *error = "bind " + where + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  if (listen && ::listen(fd, 8) != 0) {
    *error = "listen " + where + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t BoundPort(int fd) {
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

int AcceptConnection(int listener, std::string* peer) {
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  const int fd =
      accept4(listener, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
  *peer = std::string(text) + ":" + std::to_string(ntohs(sa.sin_port));
  return fd;
}

long ReceiveSome(int fd, char* buffer, std::size_t capacity, int wake_fd, int timeout_ms,
                 WaitResult* why) {
  for (;;) {
    const ssize_t n = recv(fd, buffer, capacity, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      *why = WaitResult::kError;
      return -1;
    }
    *why = WaitFor(fd, POLLIN, wake_fd, timeout_ms);
    if (*why != WaitResult::kReady) return -1;
  }
}

bool SendAll(int fd, const char* data, std::size_t size, int wake_fd, int timeout_ms) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (WaitFor(fd, POLLOUT, wake_fd, timeout_ms) != WaitResult::kReady) return false;
  }
  return true;
}

void Abort(int fd) {
  linger l = {};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
}

void Close(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace telvor::faxserver
