// One sendfax call against Debian's real HylaFAX server (started by the
// hylafax_server fixture on 127.0.3.1), judged by the job's queue file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "telvor/sendfax.h"

namespace {

namespace fs = std::filesystem;

const char kAddress[] = "127.0.3.1";
const fs::path kSpool = "/var/spool/hylafax";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ServerAnswers() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(4559);
  inet_pton(AF_INET, kAddress, &sa.sin_addr);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  close(fd);
  return ok;
}

// "key:value" lines; the first of each key counts.
std::map<std::string, std::string> Fields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) fields.emplace(line.substr(0, colon), line.substr(colon + 1));
  }
  return fields;
}

// The queue file (sendq/qN, or doneq/qN once the job has ended) whose job
// info is `tag`; the newest when there are several.
fs::path QueueFileOf(const std::string& tag) {
  fs::path found;
  long newest = -1;
  for (const char* queue : {"sendq", "doneq"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kSpool / queue, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.size() < 2 || name[0] != 'q' ||
          name.find_first_not_of("0123456789", 1) != std::string::npos) {
        continue;
      }
      const long n = std::stol(name.substr(1));
      if (n > newest && Fields(ReadFile(entry.path()))["jobtag"] == tag) {
        newest = n;
        found = entry.path();
      }
    }
  }
  return found;
}

TEST(HylaFaxServer, QueueFileHoldsTheSubmittedJob) {
  const char* ci = std::getenv("CI");
  const bool required = ci != nullptr && std::string(ci) == "true";
  if (!fs::exists("/usr/sbin/hfaxd") || !ServerAnswers()) {
    const std::string why =
        "the HylaFAX test server does not answer on 127.0.3.1:4559 (needs the Debian package "
        "hylafax-server and root; see the hylafax_start test)";
    if (required) FAIL() << why;
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

  const fs::path queue_file = QueueFileOf(info);
  ASSERT_FALSE(queue_file.empty()) << "no queue file with jobtag:" << info << "\n"
                                   << ReadFile("telvor.log");
  const std::string text = ReadFile(queue_file);
  auto fields = Fields(text);
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
  EXPECT_EQ(ReadFile(kSpool / document_path), document) << document_path;
}

}  // namespace
