// Windows Sockets 2.2. Sockets are non-blocking underneath so that every
// wait can be bounded with select(); to the caller each operation still
// completes or fails as a whole.
#include <windows.h>
#include <winsock2.h>

#include "platform.h"

namespace telvor::client {
namespace {

constexpr char kLogName[] = "telvor.log";
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// A SOCKET travels as a SocketHandle, and INVALID_SOCKET as kNoSocket.
static_assert(sizeof(SocketHandle) == sizeof(SOCKET));
static_assert(static_cast<SOCKET>(kNoSocket) == INVALID_SOCKET);

// Waits until `socket` is writable (or its connect failed) or readable, or
// `timeout_ms` has passed: 1 ready, 0 timed out, -1 failed.
int Wait(SOCKET socket, bool for_write, int timeout_ms) {
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(socket, &ready);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(socket, &failed);
  timeval limit;
  limit.tv_sec = timeout_ms / 1000;
  limit.tv_usec = (timeout_ms % 1000) * 1000;
  const int n = select(0, for_write ? nullptr : &ready, for_write ? &ready : nullptr,
                       for_write ? &failed : nullptr, &limit);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

// Record why an operation failed and pass its result on.
template <typename T>
T Fail(int& last_error, T result) {
  last_error = WSAGetLastError();
  return result;
}

template <typename T>
T TimedOut(int& last_error, T result) {
  last_error = WSAETIMEDOUT;
  return result;
}

class WinsockPlatform final : public Platform {
 public:
  std::FILE* OpenLog() override { return std::fopen(kLogName, "wt"); }

  bool Startup() override {
    WSADATA data;
    return WSAStartup(kWinsockVersion, &data) == 0;
  }

  void Cleanup() override { WSACleanup(); }

  SocketHandle CreateSocket() override {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return Fail(last_error_, kNoSocket);
    u_long non_blocking = 1;
    if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
      Fail(last_error_, false);
      closesocket(s);
      return kNoSocket;
    }
    return static_cast<SocketHandle>(s);
  }

  bool Connect(SocketHandle handle, const char* address, std::uint16_t port,
               int timeout_ms) override {
    const SOCKET s = static_cast<SOCKET>(handle);
    sockaddr_in peer;
    ZeroMemory(&peer, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = inet_addr(address);
    if (peer.sin_addr.s_addr == INADDR_NONE) {
      last_error_ = WSAEADDRNOTAVAIL;
      return false;
    }
    if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return Fail(last_error_, false);
    const int ready = Wait(s, true, timeout_ms);
    if (ready <= 0) return ready == 0 ? TimedOut(last_error_, false) : Fail(last_error_, false);
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
      return Fail(last_error_, false);
    }
    if (error != 0) {
      last_error_ = error;
      return false;
    }
    return true;
  }

  IoStatus SendAll(SocketHandle handle, const char* data, std::size_t size,
                   int timeout_ms) override {
    const SOCKET s = static_cast<SOCKET>(handle);
    std::size_t sent = 0;
    while (sent < size) {
      const int n = send(s, data + sent, static_cast<int>(size - sent), 0);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)
        return Fail(last_error_, IoStatus::kError);
      const int ready = Wait(s, true, timeout_ms);
      if (ready == 0) return TimedOut(last_error_, IoStatus::kTimeout);
      if (ready < 0) return Fail(last_error_, IoStatus::kError);
    }
    return IoStatus::kOk;
  }

  IoStatus Receive(SocketHandle handle, char* buffer, std::size_t capacity, int timeout_ms,
                   std::size_t* received) override {
    const SOCKET s = static_cast<SOCKET>(handle);
    *received = 0;
    for (;;) {
      const int n = recv(s, buffer, static_cast<int>(capacity), 0);
      if (n > 0) {
        *received = static_cast<std::size_t>(n);
        return IoStatus::kOk;
      }
      if (n == 0) return IoStatus::kClosed;
      if (WSAGetLastError() != WSAEWOULDBLOCK) return Fail(last_error_, IoStatus::kError);
      const int ready = Wait(s, false, timeout_ms);
      if (ready == 0) return TimedOut(last_error_, IoStatus::kTimeout);
      if (ready < 0) return Fail(last_error_, IoStatus::kError);
    }
  }

  void CloseSocket(SocketHandle handle) override { closesocket(static_cast<SOCKET>(handle)); }

  int LastError() override { return last_error_; }

  std::int64_t NowMs() override { return static_cast<std::int64_t>(GetTickCount64()); }

 private:
  int last_error_ = 0;
};

}  // namespace

Platform& SystemPlatform() {
  static WinsockPlatform platform;
  return platform;
}

}  // namespace telvor::client
