// telvor-spool printing to Debian's real HylaFAX server (the hylafax_server
// test fixture on 127.0.3.1): the job's queue file must carry the number
// typed into the fax-number form.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "queue.h"
#include "run_host.h"

namespace telvor::spoolhost::testing {
namespace {

using hylafax::kAddress;

const char kDocument[] =
    "%!PS-Adobe-3.0\n"
    "/Helvetica findfont 24 scalefont setfont\n"
    "72 700 moveto (Telvor Printer to HylaFAX) show\n"
    "showpage\n";

// A work folder with a document and a TEMP of its own, for a server that
// answers (skipped without one, a failure under CI=true).
class HylaFaxServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = hylafax::Unavailable(); !why.empty()) {
      const char* ci = std::getenv("CI");
      if (ci != nullptr && std::string(ci) == "true") FAIL() << why;
      GTEST_SKIP() << why;
    }
    char pattern[] = "/tmp/spoolhost-hylafax-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work = pattern;
    temp = work + "/temp";
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    document = work + "/letter.ps";
    WriteFile(document, kDocument);
  }
  void TearDown() override {
    if (work.empty()) return;
    const std::string command = "rm -rf '" + work + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  std::string work, temp, document;
};

// The number as typed with its separators dropped and its "+" kept, the
// modem of the settings, and the notice to the user who printed.
TEST_F(HylaFaxServer, QueueFileShowsTheNumberTypedIntoTheForm) {
  // The note becomes the job's tag: it tells this run's job from others.
  const std::string note =
      "Spooler host " + std::to_string(getpid()) + "-" + std::to_string(std::time(nullptr));
  const HostRun run =
      RunHost({"--registry", work + "/TelvorMon.reg", "--server", kAddress, "--user",
               "telvor-spool", "--mail", "%u@example.com", "--attempts", "3", "--modem", "ttyIAX0",
               "--fax-number", "+1 (555) 019-9", "--note", note, document},
              work, {{"TEMP", temp}, {"TELVOR_PASSWORD", "secret"}, {"XDG_RUNTIME_DIR", work}});
  std::cerr << run.out << run.err;
  ASSERT_EQ(run.status, 0) << ReadFile(work + "/telvor/telvor.log");

  hylafax::QueueReader reader(note, {"number", "mailaddr", "maxdials", "modem"});
  const auto queued = reader.Wait();
  ASSERT_TRUE(queued) << reader.Seen();
  EXPECT_EQ(queued->fields.at("number"), "+15550199") << queued->text;
  EXPECT_EQ(queued->fields.at("mailaddr"),
            std::string(getpwuid(geteuid())->pw_name) + "@example.com");
  EXPECT_EQ(queued->fields.at("maxdials"), "3");
  EXPECT_EQ(queued->fields.at("modem"), "ttyIAX0");
}

TEST_F(HylaFaxServer, AJobTheServerRefusesStaysInTemp) {
  // A modem the server has not: it refuses the submission.
  const HostRun run =
      RunHost({"--registry", work + "/TelvorMon.reg", "--server", kAddress, "--user",
               "telvor-spool", "--mail", "spool-test@example.com", "--attempts", "3", "--modem",
               "ttyACM0", "--fax-number", "5550199", document},
              work, {{"TEMP", temp}, {"TELVOR_PASSWORD", "secret"}, {"XDG_RUNTIME_DIR", work}});
  std::cerr << run.out << run.err;
  EXPECT_EQ(run.status, 1) << ReadFile(work + "/telvor/telvor.log");
  EXPECT_NE(run.err.find("TelvMon: SendFax error -60"), std::string::npos) << run.err;
  std::vector<std::string> kept = ListDirectory(temp);
  kept.erase(std::remove(kept.begin(), kept.end(), "fax777.tmp"), kept.end());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(ReadFile(temp + "/" + kept[0]), kDocument);
}

}  // namespace
}  // namespace telvor::spoolhost::testing
