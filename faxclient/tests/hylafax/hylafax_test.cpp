// sendfax against Debian's real HylaFAX server, judged by the job's queue
// file: the usual server (fixture hylafax_server on 127.0.3.1) takes a job
// and refuses one without a number; the strict server (fixture
// hylafax_strict_server) refuses a wrong password and, having no modem, every
// submission.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "queue.h"
#include "telvor/sendfax.h"

namespace telvor::hylafax {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A skip when the server at `address` does not answer, a failure under CI=true.
#define REQUIRE_SERVER(address)                                     \
  if (const std::string why = Unavailable(address); !why.empty()) { \
    const char* ci = std::getenv("CI");                             \
    if (ci != nullptr && std::string(ci) == "true") FAIL() << why;  \
    GTEST_SKIP() << why;                                            \
  }

// A job info of this run alone tells our job from any other in the queue.
std::string UniqueInfo(const std::string& text) {
  return text + " " + std::to_string(getpid()) + "-" + std::to_string(std::time(nullptr));
}

TEST(HylaFaxServer, QueueFileHoldsTheSubmittedJob) {
  REQUIRE_SERVER(kAddress);
  const std::string document = ReadFile(TELVOR_SAMPLE_PS);
  ASSERT_EQ(document.rfind("%!PS", 0), 0u);
  // "ÿ" in Windows-1252 is the byte 0xFF, which the server would take as a
  // Telnet command were it not doubled.
  const std::string info = UniqueInfo("Telvor test caf\xFF");

  const int32_t result = sendfax(kAddress, "telvor-test", "secret", "5551234",
                                 "fax-test@example.com", info.c_str(), TELVOR_SAMPLE_PS, 12);
  const std::string log = ReadFile("telvor.log");
  ASSERT_EQ(result, 0) << log;

  const auto queue_file = QueueFileOf(info);
  ASSERT_FALSE(queue_file.empty()) << "no queue file with jobtag:" << info << "\n" << log;
  const std::string text = ReadSpoolFile(queue_file);
  auto fields = QueueFields(text);
  EXPECT_EQ(fields["number"], "5551234") << text;
  EXPECT_EQ(fields["mailaddr"], "fax-test@example.com");
  EXPECT_EQ(fields["sender"], "telvor-test");
  EXPECT_EQ(fields["modem"], "ttyS0");
  EXPECT_EQ(fields["maxdials"], "9");  // 12 clamped
  EXPECT_EQ(fields["maxtries"], "5");
  EXPECT_EQ(fields["jobtag"], info);

  // The log ends with the job's number, the one its queue file qN carries.
  const std::string queue_name = queue_file.filename().string();
  ASSERT_EQ(queue_name.rfind("q", 0), 0u) << queue_name;
  EXPECT_TRUE(EndsWith(log, "\njob id: " + queue_name.substr(1) + "\n")) << log;

  // "!postscript:0::docq/docN.ps.M" (the "!" marks a document already
  // converted): the file holds exactly what was uploaded.
  std::string postscript =
      fields.count("!postscript") ? fields["!postscript"] : fields["postscript"];
  const std::size_t at = postscript.find("::");
  ASSERT_NE(at, std::string::npos) << text;
  const std::string document_path = postscript.substr(at + 2);
  EXPECT_EQ(document_path.rfind("docq/doc", 0), 0u) << document_path;
  EXPECT_EQ(ReadSpoolFile(document_path), document) << document_path;
}

TEST(HylaFaxServer, JobWithoutANumberIsNotSubmitted) {
  REQUIRE_SERVER(kAddress);
  const std::string info = UniqueInfo("Telvor test without number");
  EXPECT_EQ(sendfax(kAddress, "telvor-test", "secret", "", "fax-test@example.com", info.c_str(),
                    TELVOR_SAMPLE_PS, 3),
            -60);
  const std::string log = ReadFile("telvor.log");
  EXPECT_NE(log.find("\nsend-->JSUBM\n\nrecv<--504 "), std::string::npos) << log;
  EXPECT_TRUE(EndsWith(log, "\njob not submitted\n")) << log;
}

TEST(StrictHylaFaxServer, WrongPasswordAndRefusedSubmission) {
  REQUIRE_SERVER(kStrictAddress);
  const std::string info = UniqueInfo("Telvor strict test");
  EXPECT_EQ(sendfax(kStrictAddress, kStrictUser, "wrong", "5551234", "fax-test@example.com",
                    info.c_str(), TELVOR_SAMPLE_PS, 3),
            -14);
  std::string log = ReadFile("telvor.log");
  EXPECT_NE(log.find("\nrecv<--331 Password required for " + std::string(kStrictUser)),
            std::string::npos)
      << log;
  EXPECT_TRUE(
      EndsWith(log, "\nsend-->PASS wrong\n\nrecv<--530 Login incorrect.\r\n\nlogin - refused\n"))
      << log;

  // Let in, but no modem is registered: the scheduler refuses the job.
  EXPECT_EQ(sendfax(kStrictAddress, kStrictUser, kStrictPassword, "5551234", "fax-test@example.com",
                    info.c_str(), TELVOR_SAMPLE_PS, 3),
            -60);
  log = ReadFile("telvor.log");
  EXPECT_NE(log.find("\nsend-->JSUBM\n\nrecv<--460 Failed to submit job "), std::string::npos)
      << log;
  EXPECT_TRUE(EndsWith(log, "\njob not submitted\n")) << log;
}

}  // namespace
}  // namespace telvor::hylafax
