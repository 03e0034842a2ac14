// telvor-spool, the monitor plug-in and the fax client together, against the
// embedded fax server: what a person printing to "Telvor Printer" gets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "faxserver.h"
#include "run_host.h"

namespace telvor::spoolhost::testing {
namespace {

const char kDocument[] =
    "%!PS-Adobe-3.0\n"
    "/Helvetica findfont 24 scalefont setfont\n"
    "72 700 moveto (Printed through the port FX:) show\n"
    "showpage\n";

bool HasLine(const std::string& text, const std::string& line) {
  return ("\n" + text + "\n").find("\n" + line + "\n") != std::string::npos;
}

class EmbeddedServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/spoolhost-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work_ = pattern;
    temp_ = work_ + "/temp";
    ASSERT_EQ(mkdir(temp_.c_str(), 0700), 0);
    key_ = work_ + "/TelvorMon.reg";
    document_ = work_ + "/letter.ps";
    WriteFile(document_, kDocument);
  }
  void TearDown() override {
    if (!HasFailure()) {
      const std::string command = "rm -rf '" + work_ + "'";
      EXPECT_EQ(system(command.c_str()), 0);
    }
  }

  void StartServer(const std::string& address) {
    server_ = std::make_unique<faxserver::Server>(address, work_ + "/spool");
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }

  HostRun Print(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--registry", key_});
    HostRun run = RunHost(args, work_, {{"TEMP", temp_}, {"XDG_RUNTIME_DIR", work_}}, input);
    std::cerr << "--- telvor-spool stdout:\n" << run.out << "--- stderr:\n" << run.err;
    return run;
  }

  // The job's files left in TEMP besides the port's placeholder.
  std::vector<std::string> SpoolFiles() {
    std::vector<std::string> files = ListDirectory(temp_);
    const auto placeholder = std::find(files.begin(), files.end(), "fax777.tmp");
    EXPECT_NE(placeholder, files.end());
    if (placeholder != files.end()) files.erase(placeholder);
    return files;
  }

  std::string work_, temp_, key_, document_;
  std::unique_ptr<faxserver::Server> server_;
};

TEST_F(EmbeddedServer, FirstUseStoresTheSetupAndLaterJobsReuseIt) {
  StartServer("127.0.2.1");
  WriteFile(work_ + "/password", "secret\n");
  HostRun first =
      Print({"--server", "127.0.2.1", "--user", "alice", "--password-file", work_ + "/password",
             "--mail", "alice@example.com", "--attempts", "3", "--fax-number", "5551234",
             "--dial-attempts", "2", "--note", "First page", document_});
  EXPECT_EQ(first.status, 0);
  EXPECT_TRUE(HasLine(first.out, "job 1: sent to printer")) << first.out;
  EXPECT_NE(first.err.find("port FX: of monitor TelvorMon (HylaFAX Server)"), std::string::npos);
  ASSERT_EQ(server_->JobCount(), 1);
  const std::string job = server_->JobText(1);
  EXPECT_TRUE(HasLine(job, "JPARM DIALSTRING 5551234")) << job;
  EXPECT_TRUE(HasLine(job, "JPARM NOTIFYADDR alice@example.com"));
  EXPECT_TRUE(HasLine(job, "JPARM FROMUSER alice"));
  EXPECT_TRUE(HasLine(job, "JPARM JOBINFO First page"));
  EXPECT_TRUE(HasLine(job, "JPARM MAXDIALS 2"));
  EXPECT_EQ(server_->JobDocument(1), kDocument);
  EXPECT_TRUE(SpoolFiles().empty());  // deleted once handed over

  // The key now holds the spooler's value and the five settings given.
  const std::string key = ReadFile(key_);
  for (const char* value :
       {"\"Driver\"=\"libquor.so\"", "\"HylaFAXServerIp\"=\"127.0.2.1\"", "\"User\"=\"alice\"",
        "\"Password\"=\"secret\"", "\"MailAddress\"=\"alice@example.com\"", "\"Attempts\"=\"3\""}) {
    EXPECT_TRUE(HasLine(key, value)) << value << " in\n" << key;
  }

  // A second job, from standard input: no setup, only the fax number.
  HostRun second = Print({"--job-id", "2", "--fax-number", "5559876"}, document_);
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(HasLine(second.out, "job 2: sent to printer")) << second.out;
  ASSERT_EQ(server_->JobCount(), 2);
  const std::string again = server_->JobText(2);
  EXPECT_TRUE(HasLine(again, "JPARM DIALSTRING 5559876")) << again;
  EXPECT_TRUE(HasLine(again, "JPARM FROMUSER alice"));
  EXPECT_TRUE(HasLine(again, "JPARM MAXDIALS 3"));  // the stored default attempts
  EXPECT_EQ(server_->JobDocument(2), kDocument);
  EXPECT_EQ(ReadFile(key_), key);

  // A number that is not one: refused with the reason, nothing submitted.
  HostRun refused = Print({"--job-id", "3", "--fax-number", "FAX-ME"}, document_);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("The fax number \"FAX-ME\" holds \"F\""), std::string::npos)
      << refused.err;
  EXPECT_EQ(server_->JobCount(), 2);
}

TEST_F(EmbeddedServer, ACancelledFaxNumberSendsNothing) {
  StartServer("127.0.2.2");
  HostRun run = Print({"--server", "127.0.2.2", "--user", "bob", "--cancel-fax", document_});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(HasLine(run.out, "job 1: sent to printer")) << run.out;
  EXPECT_EQ(server_->JobCount(), 0);
  EXPECT_EQ(server_->UploadCount(), 0);
  EXPECT_EQ(server_->Transcript(), "");
  EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(EmbeddedServer, AFailedSendKeepsTheSpoolFileAndFails) {
  // Nothing listens on 127.0.2.3.
  HostRun run =
      Print({"--server", "127.0.2.3", "--user", "carol", "--fax-number", "5551234", document_});
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("TelvMon: SendFax error -"), std::string::npos) << run.err;
  EXPECT_TRUE(HasLine(run.out, "job 1: sent to printer")) << run.out;
  const std::vector<std::string> kept = SpoolFiles();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].substr(0, 3), "fax");
  EXPECT_EQ(ReadFile(temp_ + "/" + kept[0]), kDocument);
}

TEST_F(EmbeddedServer, ADocumentThatCannotBeReadStartsNoJob) {
  for (const std::string& document : {work_ + "/missing.ps", work_}) {
    HostRun run = Print({"--fax-number", "5551234", document});
    EXPECT_EQ(run.status, 2) << document;
    EXPECT_NE(run.err.find("cannot read " + document), std::string::npos) << run.err;
  }
  // Nor does one the fax server cannot take: the CUPS queue converts it.
  const std::string pdf = work_ + "/letter.pdf";
  WriteFile(pdf, "%PDF-1.7\n" + std::string(600, 'x') + "%!PS\n");
  HostRun run = Print({"--fax-number", "5551234", pdf});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("letter.pdf is a PDF; the fax server takes PostScript only. Print it "
                         "through the CUPS queue, which converts it: lp -d Telvor_Printer -o "
                         "fax-number=NUMBER " +
                         pdf),
            std::string::npos)
      << run.err;
  run = Print({"--fax-number", "5551234"}, pdf);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("standard input is a PDF"), std::string::npos) << run.err;
  EXPECT_TRUE(ListDirectory(temp_).empty());  // the port was never opened
}

TEST_F(EmbeddedServer, ACancelledSetupStoresNothingAndIsAskedAgain) {
  StartServer("127.0.2.4");
  HostRun cancelled = Print({"--cancel-setup", "--fax-number", "5551234", document_});
  EXPECT_NE(cancelled.status, 0);  // no server address to send to
  EXPECT_EQ(server_->JobCount(), 0);
  std::string key = ReadFile(key_);
  EXPECT_TRUE(HasLine(key, "\"Driver\"=\"libquor.so\"")) << key;
  EXPECT_EQ(key.find("HylaFAXServerIp"), std::string::npos) << key;

  HostRun set_up =
      Print({"--server", "127.0.2.4", "--user", "dave", "--fax-number", "5551234", document_});
  EXPECT_EQ(set_up.status, 0);
  ASSERT_EQ(server_->JobCount(), 1);
  EXPECT_TRUE(HasLine(server_->JobText(1), "JPARM FROMUSER dave"));
  EXPECT_TRUE(HasLine(ReadFile(key_), "\"HylaFAXServerIp\"=\"127.0.2.4\""));
}

// What people met: a shared /tmp, a log wherever they stood, a busy port.
TEST_F(EmbeddedServer, WithoutTempTheJobAndTheLogStayInTheUsersOwnFolder) {
  StartServer("127.0.2.5");
  // Another user's placeholder, held locked, in the shared temporary folder.
  const std::string shared = work_ + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
  const int planted = open((shared + "/fax777.tmp").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_EQ(flock(planted, LOCK_EX), 0);
  const std::string stand = work_ + "/standing-here";
  ASSERT_EQ(mkdir(stand.c_str(), 0555), 0);
  const std::string own = work_ + "/telvor";
  const std::map<std::string, std::string> environment = {
      {"TEMP", ""}, {"TMPDIR", shared}, {"XDG_RUNTIME_DIR", work_}};
  HostRun run = RunHost({"--registry", key_, "--server", "127.0.2.5", "--user", "erin",
                         "--fax-number", "5551234", document_},
                        stand, environment);
  close(planted);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(HasLine(run.out, "The fax was handed to the server as its job 1.")) << run.out;
  struct stat status {};
  ASSERT_EQ(stat(own.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((own + "/telvor.log").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(ListDirectory(stand), (std::vector<std::string>{"host.err", "host.out"}));

  // Nothing listens on 127.0.2.6: the line names the kept document.
  HostRun failed = RunHost({"--registry", work_ + "/other.reg", "--server", "127.0.2.6", "--user",
                            "erin", "--fax-number", "5551234", document_},
                           work_, environment);
  EXPECT_EQ(failed.status, 1);
  const std::string kept = "The fax was NOT sent; the document is kept in " + own + "/fax";
  EXPECT_EQ(failed.out.find(kept), failed.out.find("The fax")) << failed.out;
  EXPECT_NE(failed.out.find(kept), std::string::npos) << failed.out;
}

// A second user on the same machine, TEMP unset: neither root's placeholder in
// its own folder nor one held locked in the shared temporary folder keeps the
// user nobody, standing in a folder it cannot write, from printing.
TEST_F(EmbeddedServer, ASecondUserPrintsBesideRootsPlaceholders) {
  if (geteuid() != 0) {
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") FAIL() << "not root";
    GTEST_SKIP() << "only root can run the host as a second user (nobody)";
  }
  const uid_t nobody = 65534;
  StartServer("127.0.2.14");
  ASSERT_EQ(chmod(work_.c_str(), 0755), 0);
  ASSERT_EQ(chmod(document_.c_str(), 0644), 0);
  const std::string shared = work_ + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const std::string root_runtime = work_ + "/root-runtime";
  ASSERT_EQ(mkdir(root_runtime.c_str(), 0700), 0);
  HostRun root =
      RunHost({"--registry", key_, "--server", "127.0.2.14", "--user", "root", "--fax-number",
               "5550001", document_},
              work_, {{"TEMP", ""}, {"TMPDIR", shared}, {"XDG_RUNTIME_DIR", root_runtime}});
  ASSERT_EQ(root.status, 0) << root.err;
  const std::vector<std::string> left = ListDirectory(root_runtime + "/telvor");
  EXPECT_NE(std::find(left.begin(), left.end(), "fax777.tmp"), left.end());

  const int planted = open((shared + "/fax777.tmp").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_EQ(flock(planted, LOCK_EX), 0);
  const std::string stand = work_ + "/standing-here";
  ASSERT_EQ(mkdir(stand.c_str(), 0700), 0);
  ASSERT_EQ(chmod(stand.c_str(), 0755), 0);
  const std::string runtime = work_ + "/nobody-runtime";
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  ASSERT_EQ(chown(runtime.c_str(), nobody, nobody), 0);
  // This build may sit where nobody cannot reach it: a copy it can.
  char pattern[] = "/tmp/spoolhost-programs-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string programs = pattern;
  const std::string built =
      std::string(TELVOR_SPOOL).substr(0, std::string(TELVOR_SPOOL).rfind('/'));
  const std::string copy = "chmod 0755 " + programs + " && install -m 0755 " + built +
                           "/telvor-spool " + built + "/libquor.so " + built + "/libtelvor.so " +
                           programs;
  ASSERT_EQ(system(copy.c_str()), 0);
  const HostUser user{programs + "/telvor-spool", nobody, nobody};
  HostRun run =
      RunHost({"--registry", runtime + "/TelvorMon.reg", "--server", "127.0.2.14", "--user",
               "nobody", "--fax-number", "5550002", document_},
              stand, {{"TEMP", ""}, {"TMPDIR", shared}, {"XDG_RUNTIME_DIR", runtime}}, "", &user);
  close(planted);
  EXPECT_EQ(system(("rm -rf " + programs).c_str()), 0);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  ASSERT_EQ(server_->JobCount(), 2);
  EXPECT_TRUE(HasLine(server_->JobText(2), "JPARM FROMUSER nobody"));
  struct stat status {};
  ASSERT_EQ(stat((runtime + "/telvor/telvor.log").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(status.st_uid, nobody);
  EXPECT_EQ(ListDirectory(stand), (std::vector<std::string>{"host.err", "host.out"}));
}

// Part of a document is never a job, and never lost without a word.
TEST_F(EmbeddedServer, ADocumentReadOrKeptOnlyInPartIsNotKept) {
  StartServer("127.0.2.13");
  // Standard input that fails to read once the job has started.
  const std::string unreadable = work_ + "/not-a-document";
  ASSERT_EQ(mkdir(unreadable.c_str(), 0700), 0);
  HostRun run =
      Print({"--server", "127.0.2.13", "--user", "jo", "--fax-number", "5551234"}, unreadable);
  EXPECT_EQ(run.status, 4);
  EXPECT_TRUE(
      HasLine(run.out, "No fax sent: the document could not be read whole; nothing was kept."))
      << run.out;
  EXPECT_TRUE(SpoolFiles().empty());

  // Standard input that TEMP cannot hold (files of at most 2 KiB here): the
  // person is told it is lost.
  const std::string big = work_ + "/big.ps";
  WriteFile(big, kDocument + std::string(4096, '%'));
  struct rlimit before {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  struct rlimit small = before;
  small.rlim_cur = 2048;
  const auto previous = signal(SIGXFSZ, SIG_IGN);  // a write past it fails instead
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  run = Print({"--fax-number", "5551234"}, big);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(run.status, 4);
  EXPECT_NE(run.out.find("No fax sent: the document could not be kept in " + temp_ +
                         " (is it full?); nothing was kept, and what came on standard input "
                         "is lost: send it again once there is room."),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(SpoolFiles().empty());
  EXPECT_EQ(server_->UploadCount(), 0);
}

TEST_F(EmbeddedServer, ASecondPrintWaitsForThePort) {
  StartServer("127.0.2.7");
  const std::string own = work_ + "/telvor";
  ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
  // The first print holds the port.
  const int busy = open((own + "/port.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(busy, LOCK_EX), 0);
  HostRun second;
  std::thread printing([&] {
    second =
        Print({"--server", "127.0.2.7", "--user", "fay", "--fax-number", "5550002"}, document_);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(server_->JobCount(), 0);
  close(busy);
  printing.join();
  EXPECT_EQ(second.status, 0);
  EXPECT_NE(second.err.find("another print is using the port FX:; waiting for it to end"),
            std::string::npos)
      << second.err;
  EXPECT_EQ(server_->JobCount(), 1);
}

TEST_F(EmbeddedServer, StoredSettingsChangeOnlyOnPurpose) {
  StartServer("127.0.2.8");
  ASSERT_EQ(Print({"--server", "127.0.2.8", "--user", "gil", "--mail", "gil@example.com",
                   "--fax-number", "5551234", document_})
                .status,
            0);
  // A stray option no longer vanishes silently.
  HostRun stray = Print({"--server", "127.0.2.99", "--fax-number", "5551234", document_});
  EXPECT_EQ(stray.status, 2);
  EXPECT_NE(stray.err.find("change them with --setup"), std::string::npos) << stray.err;

  // --setup keeps what it is not told (no terminal here to ask on).
  HostRun changed = Print({"--setup", "--server", "127.0.2.9"});
  EXPECT_EQ(changed.status, 0) << changed.err;
  const std::string key = ReadFile(key_);
  EXPECT_TRUE(HasLine(key, "\"HylaFAXServerIp\"=\"127.0.2.9\"")) << key;
  EXPECT_TRUE(HasLine(key, "\"User\"=\"gil\"")) << key;
  EXPECT_TRUE(HasLine(key, "\"MailAddress\"=\"gil@example.com\"")) << key;

  // Readable by others: refused, with how to mend it.
  ASSERT_EQ(chmod(key_.c_str(), 0644), 0);
  HostRun exposed = Print({"--fax-number", "5551234", document_});
  EXPECT_EQ(exposed.status, 3);
  EXPECT_NE(exposed.err.find("chmod o-rwx,g-w " + key_), std::string::npos) << exposed.err;

  // Emptied by hand: set up afresh.
  WriteFile(key_, "");
  ASSERT_EQ(chmod(key_.c_str(), 0600), 0);
  HostRun again =
      Print({"--server", "127.0.2.8", "--user", "hal", "--fax-number", "5551234", document_});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(HasLine(server_->JobText(2), "JPARM FROMUSER hal"));
}

TEST_F(EmbeddedServer, SetupOnTheTerminalShowsTheStoredTextsAndRestoresTheTerminal) {
  WriteFile(work_ + "/password", "old-secret\n");
  ASSERT_EQ(Print({"--setup", "--server", "127.0.2.10", "--user", "ida", "--password-file",
                   work_ + "/password", "--mail", "ida@example.com", "--attempts", "4"})
                .status,
            0);
  const std::string stored = ReadFile(key_);
  const std::map<std::string, std::string> environment = {{"TEMP", temp_},
                                                          {"XDG_RUNTIME_DIR", work_}};
  // Ctrl-C at the hidden password: the terminal echoes again, nothing changes.
  TerminalRun interrupted = RunOnTerminal(
      {"--registry", key_, "--setup"}, work_, environment,
      {{"[127.0.2.10]: ", "127.0.2.11\n"}, {"[ida]: ", "\n"}, {"[**********]: ", "\x03"}});
  EXPECT_EQ(interrupted.signal, SIGINT) << interrupted.screen;
  EXPECT_TRUE(interrupted.echo_on_after);
  EXPECT_EQ(ReadFile(key_), stored);

  // A lone Escape cancels at once, and what is stored stays.
  TerminalRun cancelled = RunOnTerminal({"--registry", key_, "--setup"}, work_, environment,
                                        {{"[127.0.2.10]: ", "127.0.2.11\n"}, {"[ida]: ", "\x1b"}});
  EXPECT_EQ(cancelled.status, 1) << cancelled.screen;
  EXPECT_NE(cancelled.screen.find("[cancel]"), std::string::npos) << cancelled.screen;
  EXPECT_TRUE(cancelled.echo_on_after);
  EXPECT_EQ(ReadFile(key_), stored);

  // An arrow key edits nothing into the text; Enter keeps the stored one.
  TerminalRun changed = RunOnTerminal({"--registry", key_, "--setup"}, work_, environment,
                                      {{"[127.0.2.10]: ", "127.0.2.12\x1b[D\n"},
                                       {"[ida]: ", "\n"},
                                       {"[**********]: ", "\n"},
                                       {"[ida@example.com]: ", "\n"},
                                       {"[4]: ", "\n"},
                                       {"ttyS0) []: ", "ttyIAX0\n"}});
  EXPECT_EQ(changed.status, 0) << changed.screen;
  EXPECT_EQ(changed.screen.find("old-secret"), std::string::npos);
  const std::string key = ReadFile(key_);
  EXPECT_TRUE(HasLine(key, "\"HylaFAXServerIp\"=\"127.0.2.12\"")) << key;
  EXPECT_TRUE(HasLine(key, "\"Password\"=\"old-secret\"")) << key;
  EXPECT_TRUE(HasLine(key, "\"Attempts\"=\"4\"")) << key;
  EXPECT_TRUE(HasLine(key, "\"Modem\"=\"ttyIAX0\"")) << key;
}

}  // namespace
}  // namespace telvor::spoolhost::testing
