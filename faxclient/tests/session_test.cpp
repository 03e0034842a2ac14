// The call's paths that real sockets cannot produce on demand, through the
// export with its own time limit, on a fake platform and a fake clock: a
// sockets library that does not start, replies that come late or trickle in,
// connections that take bytes a few at a time or not at all, and a connect
// that never ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform.h"
#include "telvor/sendfax.h"

namespace telvor::client {
namespace {

constexpr SocketHandle kControl = 3;
constexpr SocketHandle kData = 4;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
constexpr int kTimeoutError = 10060;

// Each connection takes at most `chunk` bytes per send, and after each send
// it takes nothing for `stall_ms`.
struct Peer {
  std::size_t chunk = std::numeric_limits<std::size_t>::max();
  std::int64_t stall_ms = 0;
  std::int64_t ready_at = 0;
  std::string received;
};

class FakePlatform : public Platform {
 public:
  explicit FakePlatform(std::string log_path) : log_path_(std::move(log_path)) {}

  std::FILE* OpenLog(const char*) override { return std::fopen(log_path_.c_str(), "w"); }
  std::FILE* OpenDiscard() override { return std::fopen("/dev/null", "w"); }
  std::FILE* OpenDocument(const char* path) override {
    return std::fopen(unreadable_document ? dir_of_log().c_str() : path, "rb");
  }
  bool StartSockets() override {
    calls.push_back("startup");
    return startup_ok;
  }
  void StopSockets() override { calls.push_back("cleanup"); }
  SocketHandle OpenSocket() override { return created_++ == 0 ? kControl : kData; }
  Step StartConnect(SocketHandle, const char*, std::uint16_t) override {
    if (connect_ms == 0) return Step::kDone;
    connected_at_ = connect_ms < 0 ? kNever : now_ + connect_ms;
    return Step::kWouldBlock;
  }
  Step FinishConnect(SocketHandle) override {
    return now_ >= connected_at_ ? Step::kDone : Step::kWouldBlock;
  }
  Step SendSome(SocketHandle socket, const char* data, std::size_t size,
                std::size_t* sent) override {
    Peer& peer = socket == kData ? data_peer : control_peer;
    *sent = 0;
    if (now_ < peer.ready_at) return Step::kWouldBlock;
    *sent = std::min(size, peer.chunk);
    peer.received.append(data, *sent);
    peer.ready_at = peer.stall_ms < 0 ? kNever : now_ + peer.stall_ms;
    return Step::kDone;
  }
  // Hands out `incoming` one piece per receive, each `delay_ms` after the last.
  Step ReceiveSome(SocketHandle, char* buffer, std::size_t capacity,
                   std::size_t* received) override {
    *received = 0;
    if (incoming.empty() || now_ < next_piece_at_) return Step::kWouldBlock;
    *received = incoming.front().copy(buffer, capacity);
    incoming.pop_front();
    next_piece_at_ = now_ + delay_ms;
    return Step::kDone;
  }
  Waited WaitFor(SocketHandle socket, Readiness readiness, int timeout_ms) override {
    ++waits;
    const std::int64_t at = readiness == Readiness::kConnected ? connected_at_
                            : readiness == Readiness::kReadable
                                ? (incoming.empty() ? kNever : next_piece_at_)
                                : (socket == kData ? data_peer : control_peer).ready_at;
    if (at > now_ + timeout_ms) {
      now_ += timeout_ms;
      last_error_ = kTimeoutError;
      return Waited::kTimedOut;
    }
    now_ = std::max(now_, at);
    return Waited::kReady;
  }
  void CloseSocket(SocketHandle socket) override {
    calls.push_back("close " + std::to_string(socket));
  }
  int LastError() override { return last_error_; }
  std::int64_t NowMs() override { return now_; }

  bool startup_ok = true;
  bool unreadable_document = false;  // opens, but every read fails
  std::int64_t connect_ms = 0;       // < 0: never
  std::int64_t delay_ms = 0;
  std::deque<std::string> incoming;
  Peer control_peer;
  Peer data_peer;
  std::vector<std::string> calls;
  int waits = 0;

 private:
  std::string dir_of_log() const { return std::filesystem::path(log_path_).parent_path().string(); }

  std::string log_path_;
  int created_ = 0;
  std::int64_t now_ = 0;
  std::int64_t next_piece_at_ = 0;
  std::int64_t connected_at_ = 0;
  int last_error_ = 0;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("telvor-session-" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_);
    document_ = (dir_ / "page.ps").string();
    std::ofstream(document_, std::ios::binary) << "%!PS-Adobe-3.0\nshowpage\n";
    NewPlatform();
  }
  // A fresh peer and clock for the next call.
  void NewPlatform() {
    platform_ = std::make_unique<FakePlatform>((dir_ / TELVOR_LOG_FILE).string());
    UsePlatform(platform_.get());
  }
  void TearDown() override {
    UsePlatform(nullptr);
    std::filesystem::remove_all(dir_);
  }

  std::string Log() const {
    std::ifstream in(dir_ / TELVOR_LOG_FILE, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool LogEndsWith(const std::string& end) const {
    const std::string log = Log();
    return log.size() >= end.size() && log.compare(log.size() - end.size(), end.size(), end) == 0;
  }

  // Replies up to the upload, for a call that reaches the data connection.
  void AnswerLogin() {
    platform_->incoming = {"220 ready.\r\n", "331 pw.\r\n", "230 in.\r\n", "200 I.\r\n",
                           "227 Entering Passive Mode (127,0,1,250,16,0)\r\n"};
  }

  std::int32_t Run() {
    return sendfax("127.0.1.250", "alice", "secret", "5551234", nullptr, nullptr, document_.c_str(),
                   3);
  }

  std::filesystem::path dir_;
  std::string document_;
  std::unique_ptr<FakePlatform> platform_;
};

TEST_F(SessionTest, SocketsLibraryThatDoesNotStartEndsTheCall) {
  platform_->startup_ok = false;
  EXPECT_EQ(Run(), TELVOR_ERR_SOCKETS);
  EXPECT_TRUE(LogEndsWith("\nparam size - ok\nerror WSAstarup \n")) << Log();
  EXPECT_EQ(platform_->calls, std::vector<std::string>({"startup"}));
}

TEST_F(SessionTest, ConnectThatNeverEndsIsBoundedByTheTimeLimit) {
  platform_->connect_ms = -1;
  EXPECT_EQ(Run(), TELVOR_ERR_CONNECT);
  EXPECT_EQ(platform_->NowMs(), 60000);
  EXPECT_TRUE(LogEndsWith("\nWSAstarup - ok\nconnect error 10060\n")) << Log();
  EXPECT_EQ(platform_->calls, std::vector<std::string>({"startup", "close 3", "cleanup"}));
}

TEST_F(SessionTest, EachReplyIsWaitedForSixtySecondsAsAWhole) {
  // Silent for 61 s after the greeting: the reply to "USER" is given up at 60 s.
  AnswerLogin();
  platform_->delay_ms = 61000;
  EXPECT_EQ(Run(), TELVOR_ERR_TIMEOUT);
  EXPECT_EQ(platform_->NowMs(), 60000);
  EXPECT_TRUE(LogEndsWith("\nsend-->USER alice\n\nrecv - timeout\n")) << Log();

  // A byte every second and never a line end: each receive is in time, the
  // reply as a whole is not.
  NewPlatform();
  platform_->connect_ms = 20;
  platform_->delay_ms = 1000;
  platform_->incoming.assign(200, "2");
  EXPECT_EQ(Run(), TELVOR_ERR_TIMEOUT);
  EXPECT_EQ(platform_->NowMs(), 60020);
  EXPECT_TRUE(LogEndsWith("\nconnect - ok\nrecv - timeout\n")) << Log();
  EXPECT_EQ(platform_->calls, std::vector<std::string>({"startup", "close 3", "cleanup"}));
}

TEST_F(SessionTest, SlowPeerIsWaitedForUpTo59SecondsAtEveryStep) {
  // Both connections take three bytes per send and then nothing for 59 s,
  // and every reply comes 59 s after the last: each step is within the
  // limit, so the call goes on however long.
  AnswerLogin();
  platform_->delay_ms = 59000;
  platform_->control_peer.chunk = platform_->data_peer.chunk = 3;
  platform_->control_peer.stall_ms = platform_->data_peer.stall_ms = 59000;
  platform_->incoming.push_back("150 FILE: /tmp/doc1.ps\r\n");
  platform_->incoming.push_back("226 Transfer complete (FILE: /tmp/doc1.ps).\r\n");
  platform_->incoming.insert(platform_->incoming.end(), 21, "200 OK.\r\n");
  EXPECT_EQ(Run(), TELVOR_SENT) << Log();
  EXPECT_EQ(platform_->data_peer.received, "%!PS-Adobe-3.0\nshowpage\n");
  const std::string& wire = platform_->control_peer.received;
  EXPECT_EQ(wire.rfind("USER alice\nPASS secret\nTYPE I\nPASV\nSTOT\nJNEW\n", 0), 0u) << wire;
  EXPECT_EQ(wire.find("JPARM MAXDIALS 3\nJSUBM\n"), wire.size() - 23) << wire;
  EXPECT_TRUE(LogEndsWith("\nsend-->JSUBM\n\nrecv<--200 OK.\r\n\n")) << Log();
}

TEST_F(SessionTest, DocumentThatCannotBeReadEndsTheCallBeforeTheJob) {
  AnswerLogin();
  platform_->unreadable_document = true;  // a directory: POSIX opens it, reading fails
  EXPECT_EQ(Run(), TELVOR_ERR_FILE_READ);
  EXPECT_TRUE(LogEndsWith("\nopen ps file - ok\nread ps file - error\n")) << Log();
  EXPECT_EQ(platform_->data_peer.received, "");
}

TEST_F(SessionTest, DataConnectionThatTakesNothingEndsTheCall) {
  AnswerLogin();
  platform_->data_peer.ready_at = kNever;
  EXPECT_EQ(Run(), TELVOR_ERR_TIMEOUT);
  EXPECT_TRUE(LogEndsWith("\nsend data - 0 blocks, 5 B\nsend data - timeout\n")) << Log();
  EXPECT_EQ(platform_->calls,
            std::vector<std::string>({"startup", "close 4", "close 3", "cleanup"}));
  EXPECT_EQ(platform_->control_peer.received, "USER alice\nPASS secret\nTYPE I\nPASV\nSTOT\n");
}

}  // namespace
}  // namespace telvor::client
