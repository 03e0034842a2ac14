// sendfax through real sockets against the embedded fax server, one loopback
// address per test case. The log is written to the current directory, so
// each test works in a temporary directory of its own.
#include "telvor/sendfax.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "faxserver.h"
#include "platform.h"
#include "session.h"

namespace {

namespace fs = std::filesystem;
using telvor::faxserver::Behaviour;
using telvor::faxserver::Server;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A PostScript document of exactly `size` bytes.
std::string Document(std::size_t size) {
  std::string text = "%!PS-Adobe-3.0\n%%Pages: 1\n";
  while (text.size() < size) text += "% filler line of the test document\n";
  text.resize(size);
  return text;
}

// The job settings as the job lines carry them; sendfax's by default.
struct SettingTexts {
  std::string modem = "ttyS0";
  std::string resolution = "196";
  std::string page_width = "209";
  std::string page_length = "296";
};

// The 21 job lines for the arguments the tests use.
std::vector<std::string> JobLines(const std::string& document, const std::string& maxdials,
                                  const SettingTexts& settings = {}) {
  return {"JNEW",
          "FORM PS",
          "TZONE LOCAL",
          "JPARM DIALSTRING 5551234",
          "JPARM NOTIFYADDR alice@example.com",
          "JPARM MODEM " + settings.modem,
          "JPARM FROMUSER alice",
          "JPARM LASTTIME 000259",
          "JPARM MAXDIALS 1",
          "JPARM MAXTRIES 5",
          "JPARM SCHEDPRI 127",
          "JPARM VRES " + settings.resolution,
          "JPARM PAGEWIDTH " + settings.page_width,
          "JPARM PAGELENGTH " + settings.page_length,
          "JPARM NOTIFY DONE+REQUEUE",
          "JPARM PAGECHOP none",
          "JPARM CHOPTHRESHOLD 3",
          "JPARM DOCUMENT " + document,
          "JPARM JOBINFO quarterly report",
          "JPARM MAXDIALS " + maxdials,
          "JSUBM"};
}

// A job of the right size with these settings.
telvor_job Job(const char* modem = nullptr, std::uint32_t page_width = 0,
               std::uint32_t page_length = 0, std::uint32_t resolution = 0) {
  return {sizeof(telvor_job), modem, page_width, page_length, resolution, 0, nullptr};
}

struct Call {
  std::string server_ip;
  std::string user = "alice";
  std::string password = "s3cret";
  std::string fax_number = "5551234";
  std::string mail = "alice@example.com";
  std::string info = "quarterly report";
  std::string filename = "page.ps";
  std::int32_t maxdials = 3;

  std::int32_t Send() const {
    return sendfax(server_ip.c_str(), user.c_str(), password.c_str(), fax_number.c_str(),
                   mail.c_str(), info.c_str(), filename.c_str(), maxdials);
  }
  std::int32_t SendForJob(telvor_job* job) const {
    return sendfax_job(server_ip.c_str(), user.c_str(), password.c_str(), fax_number.c_str(),
                       mail.c_str(), info.c_str(), filename.c_str(), maxdials, job);
  }
  // The same call with a short time limit, for servers that stop answering.
  std::int32_t SendWithin(int time_limit_ms) const {
    telvor::client::SendRequest request;
    request.server_ip = server_ip.c_str();
    request.user = user.c_str();
    request.password = password.c_str();
    request.fax_number = fax_number.c_str();
    request.mail = mail.c_str();
    request.info = info.c_str();
    request.filename = filename.c_str();
    request.maxdials = maxdials;
    return telvor::client::RunSendFax(request, time_limit_ms);
  }
};

class SendFaxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("telvor-sendfax-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    previous_dir_ = fs::current_path();
    fs::current_path(dir_);
    WriteFile("page.ps", Document(1124));
  }
  void TearDown() override {
    servers_.clear();
    fs::current_path(previous_dir_);
    fs::remove_all(dir_);
  }

  Server& StartServer(const std::string& address, Behaviour behaviour = {}) {
    servers_.push_back(std::make_unique<Server>(address, (dir_ / ("store-" + address)).string(),
                                                std::move(behaviour)));
    std::string error;
    if (!servers_.back()->Start(&error)) ADD_FAILURE() << address << ": " << error;
    return *servers_.back();
  }

  static std::string Log() { return ReadFile(TELVOR_LOG_FILE); }

  fs::path dir_;
  fs::path previous_dir_;
  std::vector<std::unique_ptr<Server>> servers_;
};

// Callers use the names; the numbers are the documented ones.
TEST(SendFaxNames, ResultsAndLogFileHaveTheirDocumentedValues) {
  const std::pair<std::int32_t, std::int32_t> results[] = {
      {TELVOR_SENT, 0},
      {TELVOR_ERR_LOG, -100},
      {TELVOR_ERR_ARGUMENT, -40},
      {TELVOR_ERR_SOCKETS, -11},
      {TELVOR_ERR_CONTROL_SOCKET, -12},
      {TELVOR_ERR_CONNECT, -13},
      {TELVOR_ERR_LOGIN, -14},
      {TELVOR_ERR_DATA_SOCKET, -22},
      {TELVOR_ERR_DATA_CONNECT, -23},
      {TELVOR_ERR_UPLOAD, -24},
      {TELVOR_ERR_FILE_OPEN, -30},
      {TELVOR_ERR_NOT_POSTSCRIPT, -31},
      {TELVOR_ERR_SERVER_FILE, -32},
      {TELVOR_ERR_FILE_READ, -33},
      {TELVOR_ERR_TIMEOUT, -50},
      {TELVOR_ERR_JOB_REFUSED, -60},
  };
  for (const auto& [name, documented] : results) EXPECT_EQ(name, documented);
  EXPECT_STREQ(TELVOR_LOG_FILE, "telvor.log");
}

// Compares log lines with expectations; an expectation ending in "*" matches
// any line that starts with what precedes it.
void ExpectLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
  for (std::size_t i = 0; i < std::max(actual.size(), expected.size()); ++i) {
    const std::string got = i < actual.size() ? actual[i] : "<end of log>";
    const std::string want = i < expected.size() ? expected[i] : "<end of log>";
    if (!want.empty() && want.back() == '*') {
      EXPECT_EQ(got.substr(0, want.size() - 1), want.substr(0, want.size() - 1))
          << "log line " << i + 1;
    } else {
      EXPECT_EQ(got, want) << "log line " << i + 1;
    }
  }
}

// The log of a call that ran through with the arguments of Call, from the
// line after the greeting's reply on.
std::vector<std::string> LogAfterGreeting(const std::string& address, const std::string& blocks,
                                          const std::string& bytes, const std::string& document) {
  std::vector<std::string> lines = {"",
                                    "send-->USER alice",
                                    "",
                                    "recv<--331 *",
                                    "",
                                    "send-->PASS s3cret",
                                    "",
                                    "recv<--230 *",
                                    "",
                                    "send-->TYPE I",
                                    "",
                                    "recv<--200 *",
                                    "",
                                    "send-->PASV",
                                    "",
                                    "recv<--227 *",
                                    "",
                                    "passiv-ip:" + address,
                                    "passiv-port:*",
                                    "send-->STOT",
                                    "",
                                    "recv<--",
                                    "data connect - ok",
                                    "open ps file - ok",
                                    "ps file - postscript format ok",
                                    blocks,
                                    bytes,
                                    "recv<--150 FILE: " + document + "*",
                                    "",
                                    "recv<--226 Transfer complete (FILE: " + document + ")*",
                                    "",
                                    "server tmp file: " + document};
  for (const std::string& line : JobLines(document, "3")) {
    lines.insert(lines.end(), {"send-->" + line, "", "recv<--2*", ""});
  }
  lines.push_back("job id: 1");
  return lines;
}

std::vector<std::string> Header(const std::string& address) {
  return {"sendfax log start - debug mode",
          "modem: ttyS0",
          "page width: 209",
          "page length: 296",
          "resolution: 196",
          "server ip port: 4559",
          "server ip: " + address,
          "user: alice",
          "password: ******",
          "fax number to: 5551234",
          "mail: alice@example.com",
          "info: quarterly report",
          "filename: page.ps",
          "maxdials: 3",
          "",
          "param size - ok",
          "WSAstarup - ok",
          "connect - ok"};
}

TEST_F(SendFaxTest, SuccessfulCallLogsEveryStepAndStoresTheJob) {
  const std::string address = "127.0.1.1";
  Server& server = StartServer(address);
  Call call;
  call.server_ip = address;
  ASSERT_EQ(call.Send(), TELVOR_SENT);

  std::vector<std::string> expected = Header(address);
  expected.push_back("recv<--220 *");
  const auto rest =
      LogAfterGreeting(address, "send data - 2 blocks, 512 B", "send data - 100 B", "/tmp/doc1.ps");
  expected.insert(expected.end(), rest.begin(), rest.end());
  ExpectLines(Lines(Log()), expected);

  // The log holds the password: its owner's alone.
  struct stat info {};
  ASSERT_EQ(stat(TELVOR_LOG_FILE, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // Every line on the wire ends in a single line feed.
  std::string wire = "USER alice\nPASS s3cret\nTYPE I\nPASV\nSTOT\n";
  for (const std::string& line : JobLines("/tmp/doc1.ps", "3")) wire += line + "\n";
  EXPECT_EQ(server.Transcript(), wire);

  ASSERT_EQ(server.JobCount(), 1);
  std::string job;
  for (const std::string& line : JobLines("/tmp/doc1.ps", "3")) job += line + "\n";
  EXPECT_EQ(server.JobText(1), job + "document: upload1.ps\n");
  EXPECT_EQ(server.JobDocument(1), Document(1124));
}

TEST_F(SendFaxTest, ServerBehavioursThatStillEndInAJob) {
  struct Case {
    const char* address;
    Behaviour behaviour;
  };
  std::vector<Case> cases(3);
  cases[0] = {"127.0.1.3", {}};
  cases[0].behaviour.completion_in_one_segment = true;
  cases[1] = {"127.0.1.4", {}};
  cases[1].behaviour.split_replies = true;
  cases[2] = {"127.0.1.5", {}};
  cases[2].behaviour.multiline_greeting = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    Server& server = StartServer(c.address, c.behaviour);
    Call call;
    call.server_ip = c.address;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(call.Send(), TELVOR_SENT);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    ASSERT_EQ(server.JobCount(), 1);
    EXPECT_EQ(server.JobDocument(1), Document(1124));

    // Each reply is one log entry, however it arrived.
    std::vector<std::string> expected = Header(c.address);
    if (c.behaviour.multiline_greeting) {
      expected.insert(expected.end(), {"recv<--220-*", "220-*", "220 *"});
    } else {
      expected.push_back("recv<--220 *");
    }
    const auto rest = LogAfterGreeting(c.address, "send data - 2 blocks, 512 B",
                                       "send data - 100 B", "/tmp/doc1.ps");
    expected.insert(expected.end(), rest.begin(), rest.end());
    ExpectLines(Lines(Log()), expected);
  }
}

TEST_F(SendFaxTest, PassiveEndpointOnAnotherAddressGetsTheDataConnection) {
  Behaviour behaviour;
  behaviour.pasv_address = "127.0.1.106";
  Server& server = StartServer("127.0.1.6", behaviour);
  Call call;
  call.server_ip = "127.0.1.6";
  ASSERT_EQ(call.Send(), TELVOR_SENT);
  EXPECT_NE(Log().find("\npassiv-ip:127.0.1.106\n"), std::string::npos);
  EXPECT_EQ(server.Upload(1), Document(1124));
  EXPECT_EQ(server.JobCount(), 1);
}

TEST_F(SendFaxTest, DataConnectFailsForAnEndpointThatIsNoneOrRefused) {
  // PASV replies whose numbers do not fit, or that carry no endpoint.
  const char* replies[] = {"227 Entering passive mode (127,0,1,7,1000,1)",
                           "227 Entering passive mode (1270,0,1,7,4,1)",
                           "227 Entering passive mode", nullptr};
  int n = 7;
  for (const char* reply : replies) {
    Behaviour behaviour;
    if (reply != nullptr) behaviour.pasv_reply = reply;
    behaviour.refuse_data = reply == nullptr;
    const std::string address = "127.0.1." + std::to_string(n++);
    SCOPED_TRACE(address);
    Server& server = StartServer(address, behaviour);
    Call call;
    call.server_ip = address;
    EXPECT_EQ(call.Send(), TELVOR_ERR_DATA_CONNECT);
    const std::string endpoint =
        reply != nullptr ? "\npassiv-ip:\npassiv-port:0\n" : "\npassiv-ip:" + address + "\n";
    const int error = reply != nullptr ? EADDRNOTAVAIL : ECONNREFUSED;
    EXPECT_NE(Log().find(endpoint), std::string::npos) << Log();
    EXPECT_TRUE(EndsWith(
        Log(), "\nsend-->STOT\n\nrecv<--\ndata connect error " + std::to_string(error) + "\n"))
        << Log();
    EXPECT_EQ(server.JobCount(), 0);
  }
}

TEST_F(SendFaxTest, NoJobWithoutTheServersNameForTheDocument) {
  struct Case {
    const char* address;
    Behaviour behaviour;
  };
  std::vector<Case> cases(3);
  cases[0] = {"127.0.1.11", {}};  // a failed transfer, though it names the file
  cases[0].behaviour.completion_reply = "426 Transfer aborted (FILE: /tmp/doc1.ps).";
  cases[1] = {"127.0.1.12", {}};
  cases[1].behaviour.completion_reply = "226 Transfer complete.";
  cases[2] = {"127.0.1.13", {}};  // a name of 256 characters is not taken
  cases[2].behaviour.stored_name_prefix = "/var/spool/hylafax/tmp/" + std::string(229, 'd');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    Server& server = StartServer(c.address, c.behaviour);
    Call call;
    call.server_ip = c.address;
    EXPECT_EQ(call.Send(), TELVOR_ERR_SERVER_FILE);
    EXPECT_TRUE(EndsWith(Log(), "\nserver tmp file - error\n")) << Log();
    EXPECT_EQ(server.Transcript().find("JNEW"), std::string::npos);
    EXPECT_EQ(server.JobCount(), 0);
  }
}

TEST_F(SendFaxTest, RefusedLoginBrokenUploadAndRefusedJobEachEndWithTheirOwnCode) {
  // A wrong password, and a server that refuses every line: nothing after
  // the "PASS" exchange.
  const char* const refused_login[] = {"127.0.1.24", "127.0.1.25"};
  for (const char* address : refused_login) {
    SCOPED_TRACE(address);
    Behaviour behaviour;
    behaviour.refuse_login = address == refused_login[0];
    behaviour.error_replies = address == refused_login[1];
    Server& server = StartServer(address, behaviour);
    Call call;
    call.server_ip = address;
    EXPECT_EQ(call.Send(), TELVOR_ERR_LOGIN);
    EXPECT_EQ(server.Transcript(), "USER alice\nPASS s3cret\n");
    const std::string reply = behaviour.refuse_login ? "530 Login incorrect.\r" : "500 *";
    ExpectLines(Lines(Log().substr(Log().find("\nsend-->PASS"))),
                {"", "send-->PASS s3cret", "", "recv<--" + reply, "", "login - refused"});
  }

  // The server resets the data connection after the first bytes: the rest
  // of the document never arrives, so no job is created. The document is
  // larger than what the connection's buffers can hold, so some send fails.
  Behaviour early;
  early.close_data_early = true;
  Server& broken = StartServer("127.0.1.26", early);
  WriteFile("big.ps", Document(16 << 20));
  Call call;
  call.server_ip = "127.0.1.26";
  call.filename = "big.ps";
  EXPECT_EQ(call.Send(), TELVOR_ERR_UPLOAD);
  const std::string log = Log();
  const std::size_t at = log.rfind("\nsend data - error ");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find('\n', at + 1), log.size() - 1) << log;  // the last line
  EXPECT_EQ(broken.Transcript().find("JNEW"), std::string::npos);

  // The scheduler refuses the job: all 21 lines were sent, none stored.
  Behaviour no_modem;
  no_modem.refuse_submission = true;
  Server& refusing = StartServer("127.0.1.27", no_modem);
  call.server_ip = "127.0.1.27";
  call.filename = "page.ps";
  telvor_job job = Job();
  job.job_number = 7;  // the refusal names job 1: still not handed back
  EXPECT_EQ(call.SendForJob(&job), TELVOR_ERR_JOB_REFUSED);
  EXPECT_EQ(job.job_number, 0u);
  EXPECT_TRUE(EndsWith(Log(),
                       "\nsend-->JSUBM\n\nrecv<--460 Failed to submit job 1: Unspecified reason "
                       "(scheduler NAK'd request).\r\n\njob not submitted\n"))
      << Log();
  EXPECT_NE(refusing.Transcript().find("\nJPARM MAXDIALS 3\nJSUBM\n"), std::string::npos);
  EXPECT_EQ(refusing.JobCount(), 0);
}

TEST_F(SendFaxTest, LongServerFileNameIsSubmittedWhole) {
  Behaviour behaviour;
  behaviour.stored_name_prefix = "/var/spool/hylafax/tmp/" + std::string(228, 'd');
  const std::string name = behaviour.stored_name_prefix + "1.ps";
  ASSERT_EQ(name.size(), 255u);
  Server& server = StartServer("127.0.1.14", behaviour);
  Call call;
  call.server_ip = "127.0.1.14";
  ASSERT_EQ(call.Send(), TELVOR_SENT);
  EXPECT_NE(Log().find("\nserver tmp file: " + name + "\n"), std::string::npos);
  ASSERT_EQ(server.JobCount(), 1);
  EXPECT_NE(server.JobText(1).find("\nJPARM DOCUMENT " + name + "\n"), std::string::npos);
  EXPECT_EQ(server.JobDocument(1), Document(1124));
}

TEST_F(SendFaxTest, ServerThatStopsAnsweringEndsTheCallByItself) {
  struct Case {
    const char* address;
    int answered_lines;
    const char* log_end;
  };
  const Case cases[] = {
      {"127.0.1.15", 2, "\nsend-->TYPE I\n\nrecv - timeout\n"},
      {"127.0.1.16", 4, "\nsend data - 100 B\nrecv - timeout\n"},  // no reply after the upload
      {"127.0.1.17", 12, "\nsend-->JPARM LASTTIME 000259\n\nrecv - timeout\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    Behaviour behaviour;
    behaviour.stop_answering_after = c.answered_lines;
    Server& server = StartServer(c.address, behaviour);
    Call call;
    call.server_ip = c.address;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(call.SendWithin(500), TELVOR_ERR_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_TRUE(EndsWith(Log(), c.log_end)) << Log();
    EXPECT_EQ(server.JobCount(), 0);
  }
}

TEST_F(SendFaxTest, ArgumentsAndSettingsWithinBoundsPassAndOthersAreRefused) {
  Server& server = StartServer("127.0.1.18");
  const std::string longest(256, '7');
  Call call;
  call.server_ip = "127.0.1.18";
  call.user = call.password = call.fax_number = call.mail = call.info = longest;
  // Bytes from 0x80 on are letters of the code page, not control bytes.
  const std::string longest_modem = std::string(254, 'm') + "\x80\xFF";
  telvor_job limits = Job(longest_modem.c_str(), 999, 1, 98);
  ASSERT_EQ(call.SendForJob(&limits), TELVOR_SENT);
  ASSERT_EQ(server.JobCount(), 1);
  const std::string job = server.JobText(1);
  for (const char* command :
       {"\nJPARM DIALSTRING ", "\nJPARM NOTIFYADDR ", "\nJPARM FROMUSER ", "\nJPARM JOBINFO "}) {
    EXPECT_NE(job.find(command + longest + "\n"), std::string::npos) << command;
  }
  EXPECT_NE(job.find("\nJPARM MODEM " + longest_modem + "\n"), std::string::npos);
  EXPECT_NE(job.find("\nJPARM PAGEWIDTH 999\nJPARM PAGELENGTH 1\n"), std::string::npos);

  // server_ip and filename are not checked: a long address fails to connect.
  call.server_ip = std::string(300, 'x');
  EXPECT_EQ(call.Send(), TELVOR_ERR_CONNECT);
  call.server_ip = "127.0.1.18";

  std::string Call::*const checked[] = {&Call::user, &Call::password, &Call::fax_number,
                                        &Call::mail, &Call::info};
  const std::string refused[] = {std::string(257, 'x'), "5551234\nJSUBM", "5551234\r\nJSUBM",
                                 "a\r"};
  const std::string transcript = server.Transcript();
  for (std::string Call::*argument : checked) {
    for (const std::string& value : refused) {
      Call bad;
      bad.server_ip = "127.0.1.18";
      bad.*argument = value;
      EXPECT_EQ(bad.Send(), TELVOR_ERR_ARGUMENT);
      const std::string log = Log();
      // The whole header, this argument included (the password masked),
      // then the refusal.
      EXPECT_NE(log.find(argument == &Call::password ? "password: ******\n" : value + "\n"),
                std::string::npos);
      EXPECT_EQ(log.find("s3cret"), std::string::npos);
      EXPECT_NE(log.find("filename: page.ps\nmaxdials: 3\n"), std::string::npos);
      EXPECT_TRUE(EndsWith(log, "maxdials: 3\n\ninvalid param size\n")) << log;
    }
  }

  // Refused settings, and a job laid out for another size (never read, nor
  // its number written), are logged in the header like any argument.
  struct RefusedJob {
    telvor_job job;
    std::string header_line;
  };
  const std::string long_modem(257, 'm');
  const auto sized = [](std::uint32_t size, telvor_job settings) {
    settings.size = size;
    return settings;
  };
  const RefusedJob refused_jobs[] = {
      {Job(long_modem.c_str()), "modem: " + long_modem},
      {Job("tty S0"), "modem: tty S0"},
      {Job("ttyS0\r\nJSUBM"), "modem: ttyS0\r"},
      {Job("tty\x1FS0"), "modem: tty\x1FS0"},
      {Job("tty\x7FS0"), "modem: tty\x7FS0"},
      {Job(nullptr, 1000), "page width: 1000"},
      {Job(nullptr, 0, 1000), "page length: 1000"},
      {Job(nullptr, 0, 0, 97), "resolution: 97"},
      {Job(nullptr, 0, 0, 392), "resolution: 392"},
      {sized(sizeof(telvor_job) - 4, Job("tty S0")), "modem: ttyS0"},
      {sized(sizeof(telvor_job) + 4, Job()), "modem: ttyS0"},
      {sized(0, Job()), "modem: ttyS0"},
  };
  for (const RefusedJob& refused_job : refused_jobs) {
    SCOPED_TRACE(refused_job.header_line);
    telvor_job bad = refused_job.job;
    bad.job_number = 7;
    EXPECT_EQ(call.SendForJob(&bad), TELVOR_ERR_ARGUMENT);
    EXPECT_EQ(bad.job_number, bad.size == sizeof(telvor_job) ? 0u : 7u);
    const std::string log = Log();
    EXPECT_NE(log.find("\n" + refused_job.header_line + "\n"), std::string::npos) << log;
    EXPECT_TRUE(EndsWith(log, "maxdials: 3\n\ninvalid param size\n")) << log;
  }
  EXPECT_EQ(server.Transcript(), transcript);  // nothing more reached the server
  EXPECT_EQ(server.JobCount(), 1);
}

TEST_F(SendFaxTest, MaxDialsAndJobSettingsGoIntoTheJobAndEachJobsNumberIsHandedBack) {
  Server& server = StartServer("127.0.1.19");
  // Zeroed settings, and an empty modem name, give sendfax's job lines.
  const std::pair<std::int32_t, const char*> cases[] = {
      {-5, "1"}, {0, "1"}, {1, "1"}, {9, "9"}, {10, "9"}};
  int number = 0;
  const auto stored = [&](const std::string& maxdials, const SettingTexts& settings) {
    const std::string n = std::to_string(number);
    auto lines = JobLines("/tmp/doc" + n + ".ps", maxdials, settings);
    lines.push_back("document: upload" + n + ".ps");
    return lines;
  };
  for (const auto& [maxdials, clamped] : cases) {
    Call call;
    call.server_ip = "127.0.1.19";
    call.maxdials = maxdials;
    telvor_job job = Job(maxdials == 0 ? "" : nullptr);
    ASSERT_EQ(call.SendForJob(&job), TELVOR_SENT);
    EXPECT_EQ(job.job_number, static_cast<std::uint32_t>(++number));  // "200 Job N submitted."
    EXPECT_NE(Log().find("\nmaxdials: " + std::to_string(maxdials) + "\n"), std::string::npos);
    EXPECT_EQ(Lines(server.JobText(number)), stored(clamped, {}));
  }

  Call call;
  call.server_ip = "127.0.1.19";
  telvor_job job = Job("ttyIAX1", 216, 279, 98);
  ASSERT_EQ(call.SendForJob(&job), TELVOR_SENT);
  EXPECT_EQ(job.job_number, static_cast<std::uint32_t>(++number));
  EXPECT_EQ(Lines(server.JobText(number)), stored("3", {"ttyIAX1", "98", "216", "279"}));
  EXPECT_NE(Log().find("\nmodem: ttyIAX1\npage width: 216\npage length: 279\nresolution: 98\n"
                       "server ip port: 4559\n"),
            std::string::npos)
      << Log();
}

TEST_F(SendFaxTest, UploadStartsAtTheMarkerWithExactCounts) {
  Server& server = StartServer("127.0.1.20");
  struct Case {
    const char* name;
    std::string bytes;
    std::string uploaded;  // what the server must store
    const char* blocks_line;
    const char* bytes_line;
  };
  const std::string junk508(508, 'j');
  const Case cases[] = {
      {"multiple of 512", Document(1536), Document(1536), "send data - 3 blocks, 512 B",
       "send data - 0 B"},
      {"below 512", Document(100), Document(100), "send data - 0 blocks, 5 B", "send data - 100 B"},
      {"marker at 508", junk508 + Document(1100), Document(1100), "send data - 2 blocks, 512 B",
       "send data - 76 B"},
  };
  int upload = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile("doc.ps", c.bytes);
    Call call;
    call.server_ip = "127.0.1.20";
    call.filename = "doc.ps";
    ASSERT_EQ(call.Send(), TELVOR_SENT);
    EXPECT_EQ(server.Upload(++upload), c.uploaded);
    const std::string log = Log();
    EXPECT_NE(log.find(std::string("\n") + c.blocks_line + "\n" + c.bytes_line + "\n"),
              std::string::npos)
        << log;
  }

  const std::string zero_ahead = std::string(100, ' ') + '\0' + Document(600);
  const std::pair<const char*, std::string> not_postscript[] = {
      {"marker at 509", std::string(509, 'j') + Document(600)},
      {"zero byte ahead", zero_ahead},
      {"empty", ""},
  };
  for (const auto& [name, bytes] : not_postscript) {
    SCOPED_TRACE(name);
    WriteFile("doc.ps", bytes);
    Call call;
    call.server_ip = "127.0.1.20";
    call.filename = "doc.ps";
    EXPECT_EQ(call.Send(), TELVOR_ERR_NOT_POSTSCRIPT);
    EXPECT_TRUE(EndsWith(Log(), "\nopen ps file - ok\nps file - NOT postscript format!!!\n"));
  }

  // A directory cannot be opened as a file either, and a FIFO is refused
  // rather than waited on.
  fs::create_directory("folder.ps");
  ASSERT_EQ(mkfifo("fifo.ps", 0600), 0);
  for (const char* name : {"no-such-file.ps", "folder.ps", "fifo.ps"}) {
    Call missing;
    missing.server_ip = "127.0.1.20";
    missing.filename = name;
    EXPECT_EQ(missing.Send(), TELVOR_ERR_FILE_OPEN) << name;
    EXPECT_TRUE(EndsWith(Log(), "\ndata connect - ok\nopen ps file - error\n")) << name;
  }
  EXPECT_EQ(server.JobCount(), 3);
}

TEST_F(SendFaxTest, LogIsARegularFileNeverReachedThroughALink) {
  Server& server = StartServer("127.0.1.21");
  Call call;
  call.server_ip = "127.0.1.21";

  // A log left by an earlier call is emptied, and keeps its mode.
  WriteFile(TELVOR_LOG_FILE, std::string(5000, 'x'));
  ASSERT_EQ(chmod(TELVOR_LOG_FILE, 0640), 0);
  ASSERT_EQ(call.Send(), TELVOR_SENT);
  EXPECT_EQ(Log().rfind("sendfax log start - debug mode\n", 0), 0u);
  struct stat info {};
  ASSERT_EQ(stat(TELVOR_LOG_FILE, &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  // A link planted at the log's name, and a directory, are never opened:
  // the link's target keeps its bytes and its mode, and the fax goes out
  // without a log.
  ASSERT_EQ(unlink(TELVOR_LOG_FILE), 0);
  WriteFile("target.txt", "keep\n");
  ASSERT_EQ(chmod("target.txt", 0644), 0);
  ASSERT_EQ(symlink("target.txt", TELVOR_LOG_FILE), 0);
  EXPECT_EQ(call.Send(), TELVOR_SENT);
  EXPECT_EQ(ReadFile("target.txt"), "keep\n");
  ASSERT_EQ(stat("target.txt", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  ASSERT_EQ(unlink(TELVOR_LOG_FILE), 0);
  fs::create_directory(TELVOR_LOG_FILE);
  EXPECT_EQ(call.Send(), TELVOR_SENT);
  EXPECT_NE(server.Transcript().find("JPARM DOCUMENT /tmp/doc3.ps"), std::string::npos);

  // The log goes where the caller says, the current directory untouched.
  fs::create_directory("logs");
  telvor_job job = Job();
  job.log_folder = "logs";
  EXPECT_EQ(call.SendForJob(&job), TELVOR_SENT);
  EXPECT_EQ(ReadFile("logs/" TELVOR_LOG_FILE).rfind("sendfax log start - debug mode\n", 0), 0u);
}

TEST_F(SendFaxTest, ByteFFIsDoubledOnTheWireAndArrivesOnce) {
  Server& server = StartServer("127.0.1.28");
  Call call;
  call.server_ip = "127.0.1.28";
  call.info = "Caf\xFF \xFF\xFF";  // "ÿ" in Windows-1252
  ASSERT_EQ(call.Send(), TELVOR_SENT);
  EXPECT_NE(server.Transcript().find("\nJPARM JOBINFO Caf\xFF\xFF \xFF\xFF\xFF\xFF\n"),
            std::string::npos);
  EXPECT_NE(server.JobText(1).find("\nJPARM JOBINFO Caf\xFF \xFF\xFF\n"), std::string::npos);
  EXPECT_NE(Log().find("\nsend-->JPARM JOBINFO Caf\xFF \xFF\xFF\n"), std::string::npos);
}

TEST_F(SendFaxTest, ConnectFailuresEndWithTheSocketsError) {
  Call call;
  call.server_ip = "127.0.1.22";  // nothing listens there
  EXPECT_EQ(call.Send(), TELVOR_ERR_CONNECT);
  EXPECT_TRUE(
      EndsWith(Log(), "\nWSAstarup - ok\nconnect error " + std::to_string(ECONNREFUSED) + "\n"));
  call.server_ip = "fax.example.com";  // never looked up as a host name
  EXPECT_EQ(call.Send(), TELVOR_ERR_CONNECT);
  EXPECT_TRUE(EndsWith(Log(), "\nconnect error " + std::to_string(EADDRNOTAVAIL) + "\n"));
  // Missing texts are read as empty ones; a missing job number is not written.
  EXPECT_EQ(sendfax(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            TELVOR_ERR_CONNECT);
  EXPECT_EQ(sendfax_job(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr),
            TELVOR_ERR_CONNECT);
  EXPECT_NE(Log().find("\nserver ip: \nuser: \npassword: ******\n"), std::string::npos);
}

// Runs `call` in a child process whose descriptors run out after `spare`
// more are opened; returns the call's result.
int ResultWithDescriptorsLeft(const Call& call, int spare) {
  const pid_t child = fork();
  if (child == 0) {
    // The lowest free descriptors are handed out in order: the log takes the
    // first, the control socket the next, the data socket the one after.
    std::vector<int> probes;
    for (int i = 0; i < spare; ++i) probes.push_back(open("/dev/null", O_RDONLY));
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(probes.back() + 1);
    for (int fd : probes) close(fd);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(99);
    _exit(-call.Send());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? -WEXITSTATUS(status) : 1;
}

TEST_F(SendFaxTest, SocketsThatCannotBeCreated) {
  Server& server = StartServer("127.0.1.23");
  Call call;
  call.server_ip = "127.0.1.23";
  // A whole call first, so that the sanitizers' type checks have what they
  // need before the descriptors run out (they open a pipe otherwise).
  ASSERT_EQ(call.Send(), TELVOR_SENT);
  EXPECT_EQ(ResultWithDescriptorsLeft(call, 1), TELVOR_ERR_CONTROL_SOCKET);
  EXPECT_TRUE(EndsWith(Log(), "\nparam size - ok\nWSAstarup - ok\n")) << Log();
  EXPECT_EQ(ResultWithDescriptorsLeft(call, 2), TELVOR_ERR_DATA_SOCKET);
  EXPECT_TRUE(EndsWith(Log(), "\nsend-->STOT\n\nrecv<--\n")) << Log();
  EXPECT_EQ(server.JobCount(), 1);
}

}  // namespace
