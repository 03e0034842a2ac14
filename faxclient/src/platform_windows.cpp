// Windows Sockets 2.2, non-blocking, and select() for the bounded waits. Each
// operation is one call and a conversion of its result.
#include <windows.h>
#include <winsock2.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "platform.h"

// What the library calls exists from Windows 7 on (GetTickCount64 among
// them); the headers declare only that much, so nothing newer slips in.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT != 0x0601
#error "telvor.dll is built for Windows 7 or later: define _WIN32_WINNT=0x0601"
#endif

namespace telvor::client {
namespace {

constexpr DWORD kLogSharing = FILE_SHARE_READ;
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// A SOCKET travels as a SocketHandle, and INVALID_SOCKET as kNoSocket.
static_assert(sizeof(SocketHandle) == sizeof(SOCKET));
static_assert(static_cast<SOCKET>(kNoSocket) == INVALID_SOCKET);

// The access list of a new log, which holds the password: full access for
// the account that creates it, SYSTEM and the Administrators, and for nobody
// else (the caller's directory may be the system directory, whose files
// every user may read). Nothing is inherited from the directory.
class LogAccess {
 public:
  // False when the creating account cannot be found.
  bool Build() {
    HANDLE token = nullptr;
    // Inside the spooler the thread may act for the printing user.
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      return false;
    }
    DWORD size = 0;
    const bool have_user =
        GetTokenInformation(token, TokenUser, user_, sizeof user_, &size) != FALSE;
    CloseHandle(token);
    if (!have_user) return false;
    DWORD system_size = sizeof system_;
    DWORD administrators_size = sizeof administrators_;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &system_size) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_,
                            &administrators_size)) {
      return false;
    }
    PSID account = reinterpret_cast<TOKEN_USER*>(user_)->User.Sid;
    if (!InitializeAcl(reinterpret_cast<ACL*>(acl_), sizeof acl_, ACL_REVISION)) return false;
    for (PSID sid : {account, static_cast<PSID>(system_), static_cast<PSID>(administrators_)}) {
      if (!AddAccessAllowedAce(reinterpret_cast<ACL*>(acl_), ACL_REVISION, FILE_ALL_ACCESS, sid)) {
        return false;
      }
    }
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(acl_), FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return false;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    return true;
  }

  SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  // Room for a TOKEN_USER with the longest SID, two well-known SIDs, and an
  // access list of three entries.
  alignas(std::max_align_t) BYTE user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  alignas(std::max_align_t) BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  alignas(std::max_align_t) BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  alignas(std::max_align_t)
      BYTE acl_[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
};

// Records why an operation failed in `last_error` and passes `result` on.
// (A free function: the sanitizers' type checks of a member call may need a
// descriptor, and the calls that fail may be out of them.)
template <typename T>
T Failed(int& last_error, T result) {
  last_error = WSAGetLastError();
  return result;
}

class WinsockPlatform final : public Platform {
 public:
  std::FILE* OpenLog(const char* folder) override {
    const std::string path = LogPath(folder, '\\');
    LogAccess access;
    if (!access.Build()) return nullptr;
    // An existing log keeps its own access list, as a created one keeps this.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, kLogSharing, access.Attributes(),
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_TEXT);
    if (fd < 0) {
      CloseHandle(file);
      return nullptr;
    }
    std::FILE* log = _fdopen(fd, "wt");  // text mode: each "\n" becomes CR LF
    if (log == nullptr) _close(fd);
    return log;
  }

  std::FILE* OpenDiscard() override { return std::fopen("NUL", "w"); }

  std::FILE* OpenDocument(const char* path) override { return std::fopen(path, "rb"); }

  bool StartSockets() override {
    WSADATA data;
    return WSAStartup(kWinsockVersion, &data) == 0;
  }

  void StopSockets() override { WSACleanup(); }

  SocketHandle OpenSocket() override {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return Failed(last_error_, kNoSocket);
    u_long non_blocking = 1;
    if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
      Failed(last_error_, 0);
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
    return WSAGetLastError() == WSAEWOULDBLOCK ? Step::kWouldBlock
                                               : Failed(last_error_, Step::kFailed);
  }

  Step FinishConnect(SocketHandle socket) override {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_ERROR,
                   reinterpret_cast<char*>(&error), &length) != 0) {
      return Failed(last_error_, Step::kFailed);
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
    return WSAGetLastError() == WSAEWOULDBLOCK ? Step::kWouldBlock
                                               : Failed(last_error_, Step::kFailed);
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
    return WSAGetLastError() == WSAEWOULDBLOCK ? Step::kWouldBlock
                                               : Failed(last_error_, Step::kFailed);
  }

  Waited WaitFor(SocketHandle socket, Readiness readiness, int timeout_ms) override {
    const SOCKET s = static_cast<SOCKET>(socket);
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    // A failed connect shows in the exception set, and only a connect waits
    // there: urgent data shows in it too, and would wake a send wait at once
    // and for ever.
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    const bool reading = readiness == Readiness::kReadable;
    timeval limit;
    limit.tv_sec = timeout_ms / 1000;
    limit.tv_usec = (timeout_ms % 1000) * 1000;
    const int n = select(0, reading ? &ready : nullptr, reading ? nullptr : &ready,
                         readiness == Readiness::kConnected ? &failed : nullptr, &limit);
    if (n == SOCKET_ERROR) return Failed(last_error_, Waited::kFailed);
    if (n > 0) return Waited::kReady;
    last_error_ = WSAETIMEDOUT;
    return Waited::kTimedOut;
  }

  void CloseSocket(SocketHandle socket) override { closesocket(static_cast<SOCKET>(socket)); }

  int LastError() override { return last_error_; }

  std::int64_t NowMs() override { return static_cast<std::int64_t>(GetTickCount64()); }

 private:
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
