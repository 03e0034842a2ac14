// The call's paths that real sockets cannot produce on demand, on a fake
// platform and a fake clock: a sockets library that does not start, a reply
// that trickles in without end, and a data connection that takes nothing.
#include "session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace telvor::client {
namespace {

constexpr SocketHandle kControl = 3;
constexpr SocketHandle kData = 4;

class FakePlatform : public Platform {
 public:
  explicit FakePlatform(std::string log_path) : log_path_(std::move(log_path)) {}

  std::FILE* OpenLog() override { return std::fopen(log_path_.c_str(), "w"); }
  bool Startup() override {
    calls.push_back("startup");
    return startup_ok;
  }
  void Cleanup() override { calls.push_back("cleanup"); }
  SocketHandle CreateSocket() override { return created_++ == 0 ? kControl : kData; }
  bool Connect(SocketHandle, const char*, std::uint16_t, int) override { return true; }
  IoStatus SendAll(SocketHandle socket, const char* data, std::size_t size,
                   int timeout_ms) override {
    if (socket == kData) {
      now_ += timeout_ms;  // the server never reads the data connection
      return IoStatus::kTimeout;
    }
    control_sent.append(data, size);
    return IoStatus::kOk;
  }
  // Hands out `incoming` one piece per receive, each `delay_ms` after the last.
  IoStatus Receive(SocketHandle, char* buffer, std::size_t capacity, int timeout_ms,
                   std::size_t* received) override {
    *received = 0;
    if (incoming.empty() || delay_ms >= timeout_ms) {
      now_ += timeout_ms;
      return IoStatus::kTimeout;
    }
    now_ += delay_ms;
    *received = incoming.front().copy(buffer, capacity);
    incoming.pop_front();
    return IoStatus::kOk;
  }
  void CloseSocket(SocketHandle socket) override {
    calls.push_back("close " + std::to_string(socket));
  }
  int LastError() override { return 0; }
  std::int64_t NowMs() override { return now_; }

  bool startup_ok = true;
  std::int64_t delay_ms = 0;
  std::deque<std::string> incoming;
  std::vector<std::string> calls;
  std::string control_sent;

 private:
  std::string log_path_;
  int created_ = 0;
  std::int64_t now_ = 0;
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
    platform_ = std::make_unique<FakePlatform>((dir_ / "telvor.log").string());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Log() const {
    std::ifstream in(dir_ / "telvor.log", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool LogEndsWith(const std::string& end) const {
    const std::string log = Log();
    return log.size() >= end.size() && log.compare(log.size() - end.size(), end.size(), end) == 0;
  }

  std::int32_t Run() {
    SendRequest request;
    request.server_ip = "127.0.1.250";
    request.user = "alice";
    request.password = "secret";
    request.fax_number = "5551234";
    request.filename = document_.c_str();
    request.maxdials = 3;
    return RunSendFax(*platform_, request, 60000);
  }

  std::filesystem::path dir_;
  std::string document_;
  std::unique_ptr<FakePlatform> platform_;
};

TEST_F(SessionTest, SocketsLibraryThatDoesNotStartEndsTheCall) {
  platform_->startup_ok = false;
  EXPECT_EQ(Run(), -11);
  EXPECT_TRUE(LogEndsWith("\nparam size - ok\nerror WSAstarup \n")) << Log();
  EXPECT_EQ(platform_->calls, std::vector<std::string>({"startup"}));
}

TEST_F(SessionTest, TricklingReplyIsBoundedAsAWhole) {
  // A byte every second and never a line end: each receive is in time, the
  // reply as a whole is not.
  platform_->delay_ms = 1000;
  platform_->incoming.assign(200, "2");
  EXPECT_EQ(Run(), -50);
  EXPECT_EQ(platform_->NowMs(), 60000);
  EXPECT_TRUE(LogEndsWith("\nconnect - ok\nrecv - timeout\n")) << Log();
  EXPECT_EQ(platform_->calls, std::vector<std::string>({"startup", "close 3", "cleanup"}));
}

TEST_F(SessionTest, DataConnectionThatTakesNothingEndsTheCall) {
  platform_->incoming = {"220 ready.\r\n", "331 pw.\r\n", "230 in.\r\n", "200 I.\r\n",
                         "227 Entering Passive Mode (127,0,1,250,16,0)\r\n"};
  EXPECT_EQ(Run(), -50);
  EXPECT_TRUE(LogEndsWith("\nsend data - 0 blocks, 5 B\nsend data - timeout\n")) << Log();
  EXPECT_EQ(platform_->calls,
            std::vector<std::string>({"startup", "close 4", "close 3", "cleanup"}));
  EXPECT_EQ(platform_->control_sent, "USER alice\nPASS secret\nTYPE I\nPASV\nSTOT\n");
}

}  // namespace
}  // namespace telvor::client
