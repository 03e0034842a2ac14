// One sendfax call against Debian's real HylaFAX server (started by the
// hylafax_server fixture on 127.0.3.1), judged by the job's queue file.
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

TEST(HylaFaxServer, QueueFileHoldsTheSubmittedJob) {
  if (const std::string why = Unavailable(); !why.empty()) {
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
    GTEST_SKIP() << why;
  }

  const std::string document = ReadFile(TELVOR_SAMPLE_PS);
  ASSERT_EQ(document.rfind("%!PS", 0), 0u);
  // A job info of this run alone tells our job from any other in the queue.
  const std::string info =
      "Telvor test " + std::to_string(getpid()) + "-" + std::to_string(std::time(nullptr));

  const int32_t result = sendfax(kAddress, "telvor-test", "secret", "5551234",
                                 "fax-test@example.com", info.c_str(), TELVOR_SAMPLE_PS, 12);
  ASSERT_EQ(result, 0) << ReadFile("telvor.log");

  const auto queue_file = QueueFileOf(info);
  ASSERT_FALSE(queue_file.empty()) << "no queue file with jobtag:" << info << "\n"
                                   << ReadFile("telvor.log");
  const std::string text = ReadSpoolFile(queue_file);
  auto fields = QueueFields(text);
  EXPECT_EQ(fields["number"], "5551234") << text;
  EXPECT_EQ(fields["mailaddr"], "fax-test@example.com");
  EXPECT_EQ(fields["sender"], "telvor-test");
  EXPECT_EQ(fields["modem"], "ttyS0");
  EXPECT_EQ(fields["maxdials"], "9");  // 12 clamped
  EXPECT_EQ(fields["maxtries"], "5");
  EXPECT_EQ(fields["jobtag"], info);

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

}  // namespace
}  // namespace telvor::hylafax
