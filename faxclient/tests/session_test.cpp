// The call's failure paths that real sockets cannot produce on demand: a
// sockets library that does not start, sockets that cannot be created, and
// servers that go silent or trickle, on a fake clock.
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
  struct Incoming {
    std::string bytes;
    std::int64_t delay_ms = 0;  // time until they arrive
  };

  explicit FakePlatform(std::string log_path) : log_path_(std::move(log_path)) {}

  std::FILE* OpenLog() override { return std::fopen(log_path_.c_str(), "w"); }
  bool Startup() override {
    calls.push_back("startup");
    return startup_ok;
  }
  void Cleanup() override { calls.push_back("cleanup"); }
  SocketHandle CreateSocket() override {
    const SocketHandle handle = created_++ == 0 ? kControl : kData;
    if (handle == kData && !data_socket_ok) return kNoSocket;
    if (handle == kControl && !control_socket_ok) return kNoSocket;
    calls.push_back("create " + std::to_string(handle));
    return handle;
  }
  bool Connect(SocketHandle socket, const char*, std::uint16_t, int) override {
    calls.push_back("connect " + std::to_string(socket));
    return true;
  }
  IoStatus SendAll(SocketHandle socket, const char* data, std::size_t size,
                   int timeout_ms) override {
    if (socket == kData && data_send_stalls) {
      now_ += timeout_ms;
      return IoStatus::kTimeout;
    }
    (socket == kData ? data_sent : control_sent).append(data, size);
    return IoStatus::kOk;
  }
  IoStatus Receive(SocketHandle, char* buffer, std::size_t capacity, int timeout_ms,
                   std::size_t* received) override {
    *received = 0;
    if (incoming.empty() || incoming.front().delay_ms >= timeout_ms) {
      if (!incoming.empty()) incoming.front().delay_ms -= timeout_ms;
      now_ += timeout_ms;
      return IoStatus::kTimeout;
    }
    Incoming& next = incoming.front();
    now_ += next.delay_ms;
    next.delay_ms = 0;
    *received = next.bytes.copy(buffer, capacity);
    next.bytes.erase(0, *received);
    if (next.bytes.empty()) incoming.pop_front();
    return IoStatus::kOk;
  }
  void CloseSocket(SocketHandle socket) override {
    calls.push_back("close " + std::to_string(socket));
  }
  int LastError() override { return 0; }
  std::int64_t NowMs() override { return now_; }

  bool startup_ok = true;
  bool control_socket_ok = true;
  bool data_socket_ok = true;
  bool data_send_stalls = false;
  std::deque<Incoming> incoming;
  std::vector<std::string> calls;
  std::string control_sent;
  std::string data_sent;

 private:
  std::string log_path_;
  int created_ = 0;
  std::int64_t now_ = 0;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("telvor-session-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    document_ = (dir_ / "page.ps").string();
    std::ofstream(document_, std::ios::binary) << "%!PS-Adobe-3.0\nshowpage\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string LogPath() const { return (dir_ / "telvor.log").string(); }
  std::string Log() const {
    std::ifstream in(LogPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
  }

  std::int32_t Run(FakePlatform& platform, int time_limit_ms = 60000) {
    SendRequest request;
    request.server_ip = "127.0.1.250";
    request.user = "alice";
    request.password = "secret";
    request.fax_number = "5551234";
    request.mail = "alice@example.com";
    request.info = "note";
    request.filename = document_.c_str();
    request.maxdials = 3;
    return RunSendFax(platform, request, time_limit_ms);
  }

  // The login replies up to "PASV", answered at once.
  static void AnswerLogin(FakePlatform& platform) {
    for (const char* reply : {"220 ready.\r\n", "331 pw.\r\n", "230 in.\r\n", "200 I.\r\n",
                              "227 Entering Passive Mode (127,0,1,250,16,0)\r\n"}) {
      platform.incoming.push_back({reply, 0});
    }
  }

  std::filesystem::path dir_;
  std::string document_;
};

TEST_F(SessionTest, StartupFailureEndsBeforeAnySocket) {
  FakePlatform platform(LogPath());
  platform.startup_ok = false;
  EXPECT_EQ(Run(platform), -11);
  EXPECT_TRUE(EndsWith(Log(), "\nparam size - ok\nerror WSAstarup \n")) << Log();
  EXPECT_EQ(platform.calls, std::vector<std::string>({"startup"}));
}

TEST_F(SessionTest, NoControlSocketReleasesTheLibrary) {
  FakePlatform platform(LogPath());
  platform.control_socket_ok = false;
  EXPECT_EQ(Run(platform), -12);
  EXPECT_TRUE(EndsWith(Log(), "\nWSAstarup - ok\n")) << Log();
  EXPECT_EQ(platform.calls, std::vector<std::string>({"startup", "cleanup"}));
}

TEST_F(SessionTest, NoDataSocketClosesTheControlConnection) {
  FakePlatform platform(LogPath());
  platform.data_socket_ok = false;
  AnswerLogin(platform);
  EXPECT_EQ(Run(platform), -22);
  EXPECT_TRUE(EndsWith(Log(), "send-->STOT\n\nrecv<--\n")) << Log();
  EXPECT_EQ(platform.calls,
            std::vector<std::string>({"startup", "create 3", "connect 3", "close 3", "cleanup"}));
}

TEST_F(SessionTest, SilentServerEndsTheCallAtTheTimeLimit) {
  FakePlatform platform(LogPath());  // connects, then never answers
  EXPECT_EQ(Run(platform, 60000), -50);
  EXPECT_EQ(platform.NowMs(), 60000);
  EXPECT_TRUE(EndsWith(Log(), "connect - ok\nrecv - timeout\n")) << Log();
  EXPECT_EQ(platform.calls.back(), "cleanup");
}

TEST_F(SessionTest, TricklingReplyIsBoundedAsAWhole) {
  FakePlatform platform(LogPath());
  // A byte every second, never a line end: each receive succeeds in time,
  // the reply as a whole does not.
  for (int i = 0; i < 200; ++i) platform.incoming.push_back({"2", 1000});
  EXPECT_EQ(Run(platform, 60000), -50);
  EXPECT_LE(platform.NowMs(), 60000);
  EXPECT_TRUE(EndsWith(Log(), "recv - timeout\n")) << Log();
}

TEST_F(SessionTest, StalledUploadEndsTheCallAndReleasesEverything) {
  FakePlatform platform(LogPath());
  AnswerLogin(platform);
  platform.data_send_stalls = true;
  EXPECT_EQ(Run(platform, 5000), -50);
  EXPECT_TRUE(EndsWith(Log(), "send data - 0 blocks, 5 B\nsend data - timeout\n")) << Log();
  EXPECT_EQ(platform.calls,
            std::vector<std::string>({"startup", "create 3", "connect 3", "create 4", "connect 4",
                                      "close 4", "close 3", "cleanup"}));
  EXPECT_EQ(platform.control_sent, "USER alice\nPASS secret\nTYPE I\nPASV\nSTOT\n");
}

TEST_F(SessionTest, LateCompletionReplyEndsTheCallBeforeAnyJob) {
  FakePlatform platform(LogPath());
  AnswerLogin(platform);
  platform.incoming.push_back({"150 FILE: /tmp/doc1.ps (Opening new data connection).\r\n", 0});
  EXPECT_EQ(Run(platform, 2000), -50);
  EXPECT_EQ(platform.control_sent.find("JNEW"), std::string::npos);
  EXPECT_TRUE(EndsWith(Log(), "(Opening new data connection).\r\n\nrecv - timeout\n")) << Log();
}

}  // namespace
}  // namespace telvor::client
