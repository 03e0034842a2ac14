// Windows Sockets 2.2, non-blocking, and select() for the bounded waits. Each
// operation is one call and a conversion of its result.
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

class WinsockPlatform final : public Platform {
 public:
  std::FILE* OpenLog() override { return std::fopen(kLogName, "wt"); }

  bool StartSockets() override {
    WSADATA data;
    return WSAStartup(kWinsockVersion, &data) == 0;
  }

  void StopSockets() override { WSACleanup(); }

  SocketHandle OpenSocket() override {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return Failed(kNoSocket);
    u_long non_blocking = 1;
    if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
      Failed(0);
      closesocket(s);
      return kNoSocket;
    }
    return static_cast<SocketHandle>(s);
  }

  Step StartConnect(SocketHandle socket, const char* address, std::uint16_t port) override {
    sockaddr_in peer;
    ZeroMemory(&peer, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = inet_addr(address);
    if (peer.sin_addr.s_addr == INADDR_NONE) {
      last_error_ = WSAEADDRNOTAVAIL;
      return Step::kFailed;
    }
    if (connect(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&peer),
                sizeof peer) == 0) {
      return Step::kDone;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? Step::kWouldBlock : Failed(Step::kFailed);
  }

  Step FinishConnect(SocketHandle socket) override {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_ERROR,
                   reinterpret_cast<char*>(&error), &length) != 0) {
      return Failed(Step::kFailed);
    }
    if (error != 0) {
      last_error_ = error;
      return Step::kFailed;
    }
    return Step::kDone;  // select() reported it writable: connected
  }

  Step SendSome(SocketHandle socket, const char* data, std::size_t size,
                std::size_t* sent) override {
    *sent = 0;
    const int n = send(static_cast<SOCKET>(socket), data, ClampedSize(size), 0);
    if (n >= 0) {
      *sent = static_cast<std::size_t>(n);
      return Step::kDone;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? Step::kWouldBlock : Failed(Step::kFailed);
  }

  Step ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity,
                   std::size_t* received) override {
    *received = 0;
    const int n = recv(static_cast<SOCKET>(socket), buffer, ClampedSize(capacity), 0);
    if (n > 0) {
      *received = static_cast<std::size_t>(n);
      return Step::kDone;
    }
    if (n == 0) return Step::kClosed;
    return WSAGetLastError() == WSAEWOULDBLOCK ? Step::kWouldBlock : Failed(Step::kFailed);
  }

  Waited WaitFor(SocketHandle socket, Readiness readiness, int timeout_ms) override {
    const SOCKET s = static_cast<SOCKET>(socket);
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    // A failed connect shows in the exception set.
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    const bool reading = readiness == Readiness::kReadable;
    timeval limit;
    limit.tv_sec = timeout_ms / 1000;
    limit.tv_usec = (timeout_ms % 1000) * 1000;
    const int n = select(0, reading ? &ready : nullptr, reading ? nullptr : &ready,
                         reading ? nullptr : &failed, &limit);
    if (n == SOCKET_ERROR) return Failed(Waited::kFailed);
    if (n > 0) return Waited::kReady;
    last_error_ = WSAETIMEDOUT;
    return Waited::kTimedOut;
  }

  void CloseSocket(SocketHandle socket) override { closesocket(static_cast<SOCKET>(socket)); }

  int LastError() override { return last_error_; }

  std::int64_t NowMs() override { return static_cast<std::int64_t>(GetTickCount64()); }

 private:
  // Records the sockets error as the reason and passes `result` on.
  template <typename T>
  T Failed(T result) {
    last_error_ = WSAGetLastError();
    return result;
  }

  // Winsock counts in int.
  static int ClampedSize(std::size_t size) {
    constexpr std::size_t kLargest = 1 << 30;
    return static_cast<int>(size < kLargest ? size : kLargest);
  }

  int last_error_ = 0;
};

}  // namespace

Platform& SystemPlatform() {
  static WinsockPlatform platform;
  return platform;
}

}  // namespace telvor::client
