// The embedded fax server's own behaviours, through raw sockets: what a
// client cannot see for itself (segments, timing, bounded lines, leaving at
// any point). The client library's tests exercise the rest end to end.
#include "faxserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace telvor::faxserver {
namespace {

namespace fs = std::filesystem;

// A blocking TCP connection with bounded reads.
class Peer {
 public:
  Peer(const std::string& address, int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Peer() { Close(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool ok() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool Send(const std::string& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  void Command(const std::string& line) { ASSERT_TRUE(Send(line + "\n")) << line; }
  // Whatever one receive brings within `ms` ("" on timeout or close).
  std::string ReceiveOnce(int ms = 5000) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return {};
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    ++receives_;
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }
  // One reply line with its CR LF; "" when none completes within 5 s.
  std::string Line() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end + 1);
        pending_.erase(0, end + 1);
        return line;
      }
      if (std::chrono::steady_clock::now() > deadline) return {};
      const std::string more = ReceiveOnce(100);
      pending_ += more;
    }
  }
  std::string Ask(const std::string& line) {
    Command(line);
    return Line();
  }
  bool Quiet(int ms) { return pending_.empty() && ReceiveOnce(ms).empty(); }
  int receives() const { return receives_; }

 private:
  int fd_ = -1;
  int receives_ = 0;
  std::string pending_;
};

// "227 ... (127,0,6,1,p,q)" -> address and port.
bool Endpoint(const std::string& reply, std::string* address, int* port) {
  int n[6];
  const std::size_t open = reply.find('(');
  if (open == std::string::npos || std::sscanf(reply.c_str() + open, "(%d,%d,%d,%d,%d,%d)", &n[0],
                                               &n[1], &n[2], &n[3], &n[4], &n[5]) != 6) {
    return false;
  }
  *address = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
             std::to_string(n[3]);
  *port = n[4] * 256 + n[5];
  return true;
}

class FaxServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() /
                 ("faxserver-test-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory_);
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(directory_);
  }
  Server& StartServer(const std::string& address, Behaviour behaviour = {}) {
    server_ = std::make_unique<Server>(address, directory_.string(), behaviour);
    std::string error;
    EXPECT_TRUE(server_->Start(&error)) << error;
    return *server_;
  }
  static void LogIn(Peer& peer) {
    EXPECT_EQ(peer.Line().substr(0, 4), "220 ");
    peer.Ask("USER alice");
    peer.Ask("PASS secret");
  }

  fs::path directory_;
  std::unique_ptr<Server> server_;
};

TEST_F(FaxServerTest, StoresTheUploadAndTheJobAsReceived) {
  Server& server = StartServer("127.0.6.1");
  Peer peer("127.0.6.1", 4559);
  ASSERT_TRUE(peer.ok());
  EXPECT_EQ(peer.Line(), "220 127.0.6.1 server (Telvor embedded fax server) ready.\r\n");
  EXPECT_EQ(peer.Ask("USER alice"), "331 Password required for alice.\r\n");
  EXPECT_EQ(peer.Ask("PASS secret"), "230 User alice logged in.\r\n");
  EXPECT_EQ(peer.Ask("TYPE I"), "200 Type set to Image.\r\n");
  const std::string pasv = peer.Ask("PASV");
  EXPECT_EQ(pasv.rfind("227 Entering passive mode (127,0,6,1,", 0), 0u) << pasv;
  std::string address;
  int port = 0;
  ASSERT_TRUE(Endpoint(pasv, &address, &port));
  peer.Command("STOT");
  Peer data(address, port);
  ASSERT_TRUE(data.ok());
  // The first reply comes when the data connection opens, before any byte.
  EXPECT_EQ(peer.Line(), "150 FILE: /tmp/doc1.ps (Opening new data connection).\r\n");
  static const char kHead[] = "%!PS\r\n\0\xff binary\n";
  const std::string document = std::string(kHead, sizeof kHead - 1) + std::string(70000, 'x');
  ASSERT_TRUE(data.Send(document));
  data.Close();
  EXPECT_EQ(peer.Line(), "226 Transfer complete (FILE: /tmp/doc1.ps).\r\n");

  EXPECT_EQ(peer.Ask("JNEW"), "200 New job created: jobid: 1 groupid: 1.\r\n");
  EXPECT_EQ(peer.Ask("JPARM DIALSTRING 5551234"), "213 DIALSTRING set to \"5551234\".\r\n");
  EXPECT_EQ(peer.Ask("JPARM MAXDIALS 3"), "213 MAXDIALS set to 3.\r\n");
  EXPECT_EQ(peer.Ask("JPARM NOTIFYADDR "), "213 NOTIFYADDR set to \"\".\r\n");
  EXPECT_EQ(peer.Ask("JPARM DOCUMENT /tmp/doc9.ps"),
            "550 /tmp/doc9.ps: No such file or directory.\r\n");
  EXPECT_EQ(peer.Ask("JPARM DOCUMENT /tmp/doc1.ps"),
            "200 Added document /tmp/doc1.ps as upload1.ps.\r\n");
  EXPECT_EQ(peer.Ask("JPARM JOBINFO two words"), "213 JOBINFO set to \"two words\".\r\n");
  EXPECT_EQ(peer.Ask("JSUBM"), "200 Job 1 submitted.\r\n");
  peer.Close();

  ASSERT_EQ(server.UploadCount(), 1);
  ASSERT_EQ(server.JobCount(), 1);
  EXPECT_EQ(server.Upload(1), document);
  EXPECT_EQ(server.JobDocument(1), document);
  EXPECT_EQ(server.JobText(1),
            "JNEW\n"
            "JPARM DIALSTRING 5551234\n"
            "JPARM MAXDIALS 3\n"
            "JPARM NOTIFYADDR \n"
            "JPARM DOCUMENT /tmp/doc9.ps\n"
            "JPARM DOCUMENT /tmp/doc1.ps\n"
            "JPARM JOBINFO two words\n"
            "JSUBM\n"
            "document: upload1.ps\n");
  EXPECT_EQ(server.Transcript().rfind("USER alice\nPASS secret\nTYPE I\nPASV\nSTOT\nJNEW\n", 0),
            0u);

  // The next client is served once the first has gone; a job without a
  // document says so.
  Peer second("127.0.6.1", 4559);
  LogIn(second);
  second.Ask("JNEW");
  EXPECT_EQ(second.Ask("JSUBM"), "200 Job 2 submitted.\r\n");
  EXPECT_EQ(server.JobText(2), "JNEW\nJSUBM\ndocument: missing\n");
  EXPECT_EQ(server.JobDocument(2), "");
}

TEST_F(FaxServerTest, DemandsLoginAndRefusesBadLines) {
  StartServer("127.0.6.2");
  Peer peer("127.0.6.2", 4559);
  peer.Line();
  EXPECT_EQ(peer.Ask("JNEW"), "530 Please login with USER and PASS.\r\n");
  EXPECT_EQ(peer.Ask("PASS x"), "503 Login with USER first.\r\n");
  EXPECT_EQ(peer.Ask("FOO bar"), "500 FOO: Command not recognized.\r\n");
  EXPECT_EQ(peer.Ask(std::string(5000, 'A')), "500 Command line too long.\r\n");
  EXPECT_EQ(peer.Ask(std::string(2000, 'B')), "500 Command line too long.\r\n");
  EXPECT_EQ(peer.Ask("USER bob\r"), "331 Password required for bob.\r\n");
  EXPECT_EQ(peer.Ask("PASS x"), "230 User bob logged in.\r\n");
  EXPECT_EQ(peer.Ask("JPARM MODEM ttyS0"), "503 No job selected; use JNEW first.\r\n");
  EXPECT_EQ(peer.Ask("STOT"), "425 Cannot open data connection: use PASV first.\r\n");
  EXPECT_EQ(peer.Ask("QUIT"), "221 Goodbye.\r\n");
}

TEST_F(FaxServerTest, SegmentsAsSwitchedOn) {
  Behaviour one;
  one.completion_in_one_segment = true;
  StartServer("127.0.6.4", one);
  {
    Peer peer("127.0.6.4", 4559);
    LogIn(peer);
    std::string address;
    int port = 0;
    ASSERT_TRUE(Endpoint(peer.Ask("PASV"), &address, &port));
    peer.Command("STOT");
    Peer data(address, port);
    ASSERT_TRUE(data.Send("%!PS\n"));
    EXPECT_TRUE(peer.Quiet(300));  // nothing while the data connection is open
    data.Close();
    const std::string both = peer.ReceiveOnce();
    EXPECT_EQ(both,
              "150 FILE: /tmp/doc1.ps (Opening new data connection).\r\n"
              "226 Transfer complete (FILE: /tmp/doc1.ps).\r\n");
  }

  Behaviour split;
  split.split_replies = true;
  split.multiline_greeting = true;
  StartServer("127.0.6.5", split);
  Peer peer("127.0.6.5", 4559);
  EXPECT_EQ(peer.Line(), "220-Telvor embedded fax server.\r\n");
  EXPECT_EQ(peer.Line(), "220-Jobs are stored as files here; nothing is ever dialled.\r\n");
  EXPECT_EQ(peer.Line(), "220 127.0.6.5 server (Telvor embedded fax server) ready.\r\n");
  const int before = peer.receives();
  EXPECT_EQ(peer.Ask("USER alice"), "331 Password required for alice.\r\n");
  EXPECT_GT(peer.receives() - before, 2);
}

TEST_F(FaxServerTest, StopsAnsweringButNeverHoldsStop) {
  Behaviour behaviour;
  behaviour.stop_answering_after = 2;
  Server& server = StartServer("127.0.6.6", behaviour);
  Peer peer("127.0.6.6", 4559);
  LogIn(peer);
  peer.Command("TYPE I");
  EXPECT_TRUE(peer.Quiet(300));
  const auto start = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(server.Transcript(), "USER alice\nPASS secret\nTYPE I\n");
}

TEST_F(FaxServerTest, ClientsLeavingAnywhereLeaveTheServerServing) {
  fs::create_directories(directory_);
  std::ofstream(directory_ / "job1.txt") << "stale";
  std::ofstream(directory_ / "notes.txt") << "kept";
  Server& server = StartServer("127.0.6.12");
  EXPECT_FALSE(fs::exists(directory_ / "job1.txt"));
  EXPECT_TRUE(fs::exists(directory_ / "notes.txt"));
  { Peer gone("127.0.6.12", 4559); }
  {
    Peer waiting_for_data("127.0.6.12", 4559);
    LogIn(waiting_for_data);
    waiting_for_data.Ask("PASV");
    waiting_for_data.Command("STOT");
  }
  {
    Peer mid_line("127.0.6.12", 4559);
    LogIn(mid_line);
    mid_line.Send("JPARM DIALSTR");
  }
  const auto start = std::chrono::steady_clock::now();
  Peer next("127.0.6.12", 4559);
  EXPECT_EQ(next.Line().substr(0, 4), "220 ");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(server.JobCount(), 0);
  EXPECT_EQ(server.UploadCount(), 0);
}

// The program as the demo and the Wine tests run it.
TEST_F(FaxServerTest, ProgramServesUntilTerminated) {
  const std::string ready = (directory_ / "ready").string();
  const std::string spool = (directory_ / "spool").string();
  fs::create_directories(directory_);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(TELVOR_FAXSERVER_PROGRAM, TELVOR_FAXSERVER_PROGRAM, "--address", "127.0.6.13", "--dir",
          spool.c_str(), "--ready-file", ready.c_str(), "--multiline-greeting",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 100 && !fs::exists(ready); ++i) usleep(50 * 1000);
  {
    std::ifstream in(ready);
    std::string endpoint;
    std::getline(in, endpoint);
    EXPECT_EQ(endpoint, "127.0.6.13:4559");
    Peer peer("127.0.6.13", 4559);
    EXPECT_EQ(peer.Line(), "220-Telvor embedded fax server.\r\n");
  }
  kill(child, SIGTERM);
  int status = -1;
  bool ended = false;
  for (int i = 0; i < 100 && !ended; ++i) {
    ended = waitpid(child, &status, WNOHANG) == child;
    if (!ended) usleep(20 * 1000);
  }
  if (!ended) {  // never leave it running
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(fs::is_directory(spool));

  const pid_t bad = fork();
  ASSERT_GE(bad, 0);
  if (bad == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    execl(TELVOR_FAXSERVER_PROGRAM, TELVOR_FAXSERVER_PROGRAM, "--port", "1",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  waitpid(bad, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace telvor::faxserver
