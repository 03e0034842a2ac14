// telvor-spool printing to Debian's real HylaFAX server (the hylafax_server
// test fixture on 127.0.3.1): the job's queue file must carry the number
// typed into the fax-number form.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "run_host.h"

namespace telvor::spoolhost::testing {
namespace {

namespace fs = std::filesystem;

const char kAddress[] = "127.0.3.1";
const fs::path kSpool = "/var/spool/hylafax";

const char kDocument[] =
    "%!PS-Adobe-3.0\n"
    "/Helvetica findfont 24 scalefont setfont\n"
    "72 700 moveto (Telvor Printer to HylaFAX) show\n"
    "showpage\n";

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

// The newest queue file (sendq/qN or doneq/qN) whose job info is `tag`.
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
      if (n > newest && Fields(ReadFile(entry.path().string()))["jobtag"] == tag) {
        newest = n;
        found = entry.path();
      }
    }
  }
  return found;
}

bool ServerAnswers() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(4559);
  inet_pton(AF_INET, kAddress, &address.sin_addr);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

TEST(HylaFaxServer, QueueFileShowsTheNumberTypedIntoTheForm) {
  const char* ci = std::getenv("CI");
  if (!fs::exists("/usr/sbin/hfaxd") || !ServerAnswers()) {
    const char* why =
        "the HylaFAX test server does not answer on 127.0.3.1:4559 (see the hylafax_start test)";
    if (ci && std::string(ci) == "true") FAIL() << why;
    GTEST_SKIP() << why;
  }
  char pattern[] = "/tmp/spoolhost-hylafax-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string work = pattern;
  const std::string temp = work + "/temp";
  ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
  const std::string document = work + "/letter.ps";
  WriteFile(document, kDocument);

  // The note becomes the job's tag: it tells this run's job from others.
  const std::string note =
      "Spooler host " + std::to_string(getpid()) + "-" + std::to_string(std::time(nullptr));
  const HostRun run =
      RunHost({"--registry", work + "/TelvorMon.reg", "--server", kAddress, "--user",
               "telvor-spool", "--password", "secret", "--mail", "spool-test@example.com",
               "--attempts", "3", "--fax-number", "5550199", "--note", note, document},
              work, {{"TEMP", temp}});
  std::cerr << run.out << run.err;
  ASSERT_EQ(run.status, 0) << ReadFile(work + "/telvor.log");

  const fs::path queue_file = QueueFileOf(note);
  ASSERT_FALSE(queue_file.empty()) << "no queue file with jobtag:" << note;
  const std::string queued = ReadFile(queue_file.string());
  auto fields = Fields(queued);
  EXPECT_EQ(fields["number"], "5550199") << queued;
  EXPECT_EQ(fields["mailaddr"], "spool-test@example.com");
  EXPECT_EQ(fields["maxdials"], "3");
  const std::string command = "rm -rf '" + work + "'";
  EXPECT_EQ(system(command.c_str()), 0);
}

}  // namespace
}  // namespace telvor::spoolhost::testing
