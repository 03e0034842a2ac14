// sendfax against Debian's real HylaFAX server, judged by the job's queue
// file: the usual server (fixture hylafax_server on 127.0.3.1) takes a job
// with its settings and refuses one without a number or for a modem it does
// not have; the strict server (fixture
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

  telvor_job job{sizeof(telvor_job), nullptr, 0, 0, 0, 0, nullptr};
  const int32_t result =
      sendfax_job(kAddress, "telvor-test", "secret", "5551234", "fax-test@example.com",
                  info.c_str(), TELVOR_SAMPLE_PS, 12, &job);
  const std::string log = ReadFile(TELVOR_LOG_FILE);
  ASSERT_EQ(result, TELVOR_SENT) << log;

  QueueReader reader(info, {"number", "mailaddr", "sender", "modem", "maxdials", "maxtries"});
  const auto queued = reader.Wait();
  ASSERT_TRUE(queued) << reader.Seen() << "\n" << log;
  const auto& fields = queued->fields;
  EXPECT_EQ(fields.at("number"), "5551234") << queued->text;
  EXPECT_EQ(fields.at("mailaddr"), "fax-test@example.com");
  EXPECT_EQ(fields.at("sender"), "telvor-test");
  EXPECT_EQ(fields.at("modem"), "ttyS0");
  EXPECT_EQ(fields.at("maxdials"), "9");  // 12 clamped
  EXPECT_EQ(fields.at("maxtries"), "5");

  // The log ends with the job's number, the one its queue file qN carries
  // and the call hands back.
  const std::string queue_name = queued->file.filename().string();
  ASSERT_EQ(queue_name.rfind("q", 0), 0u) << queue_name;
  EXPECT_TRUE(EndsWith(log, "\njob id: " + queue_name.substr(1) + "\n")) << log;
  EXPECT_EQ(std::to_string(job.job_number), queue_name.substr(1));

  // The document the record names holds exactly what was uploaded.
  EXPECT_EQ(queued->document, document) << queued->text;
}

TEST(HylaFaxServer, JobSettingsReachTheQueueFileAndOnlyARegisteredModemSends) {
  REQUIRE_SERVER(kAddress);
  const std::string info = UniqueInfo("Telvor test letter");
  // US Letter at low resolution, first for a modem the server does not have.
  telvor_job job{sizeof(telvor_job), "ttyACM0", 216, 279, 98, 0, nullptr};
  const auto send = [&] {
    return sendfax_job(kAddress, "telvor-test", "secret", "5551234", "fax-test@example.com",
                       info.c_str(), TELVOR_SAMPLE_PS, 3, &job);
  };
  EXPECT_EQ(send(), TELVOR_ERR_JOB_REFUSED);
  std::string log = ReadFile(TELVOR_LOG_FILE);
  EXPECT_NE(log.find("\nsend-->JPARM MODEM ttyACM0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\nsend-->JSUBM\n\nrecv<--460 "), std::string::npos) << log;
  EXPECT_EQ(job.job_number, 0u);

  job.modem = "ttyS0";
  ASSERT_EQ(send(), TELVOR_SENT) << ReadFile(TELVOR_LOG_FILE);
  QueueReader reader(info, {"modem", "pagewidth", "pagelength", "resolution"});
  const auto queued = reader.Wait();
  ASSERT_TRUE(queued) << reader.Seen();
  EXPECT_EQ(queued->file.filename().string(), "q" + std::to_string(job.job_number));
  const auto& fields = queued->fields;
  EXPECT_EQ(fields.at("modem"), "ttyS0") << queued->text;
  EXPECT_EQ(fields.at("pagewidth"), "216");
  EXPECT_EQ(fields.at("pagelength"), "279");
  EXPECT_EQ(fields.at("resolution"), "98");
}

TEST(HylaFaxServer, JobWithoutANumberIsNotSubmitted) {
  REQUIRE_SERVER(kAddress);
  const std::string info = UniqueInfo("Telvor test without number");
  EXPECT_EQ(sendfax(kAddress, "telvor-test", "secret", "", "fax-test@example.com", info.c_str(),
                    TELVOR_SAMPLE_PS, 3),
            TELVOR_ERR_JOB_REFUSED);
  const std::string log = ReadFile(TELVOR_LOG_FILE);
  EXPECT_NE(log.find("\nsend-->JSUBM\n\nrecv<--504 "), std::string::npos) << log;
  EXPECT_TRUE(EndsWith(log, "\njob not submitted\n")) << log;
}

TEST(StrictHylaFaxServer, WrongPasswordAndRefusedSubmission) {
  REQUIRE_SERVER(kStrictAddress);
  const std::string info = UniqueInfo("Telvor strict test");
  EXPECT_EQ(sendfax(kStrictAddress, kStrictUser, "wrong", "5551234", "fax-test@example.com",
                    info.c_str(), TELVOR_SAMPLE_PS, 3),
            TELVOR_ERR_LOGIN);
  std::string log = ReadFile(TELVOR_LOG_FILE);
  EXPECT_NE(log.find("\nrecv<--331 Password required for " + std::string(kStrictUser)),
            std::string::npos)
      << log;
  EXPECT_TRUE(
      EndsWith(log, "\nsend-->PASS wrong\n\nrecv<--530 Login incorrect.\r\n\nlogin - refused\n"))
      << log;

  // Let in, but no modem is registered: the scheduler refuses the job.
  EXPECT_EQ(sendfax(kStrictAddress, kStrictUser, kStrictPassword, "5551234", "fax-test@example.com",
                    info.c_str(), TELVOR_SAMPLE_PS, 3),
            TELVOR_ERR_JOB_REFUSED);
  log = ReadFile(TELVOR_LOG_FILE);
  EXPECT_NE(log.find("\nsend-->JSUBM\n\nrecv<--460 Failed to submit job "), std::string::npos)
      << log;
  EXPECT_TRUE(EndsWith(log, "\njob not submitted\n")) << log;
}

}  // namespace
}  // namespace telvor::hylafax
