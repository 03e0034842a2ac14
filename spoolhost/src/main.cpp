// telvor-spool: prints a document to the port FX: the way the Windows print
// spooler does, through the port monitor plug-in (libquor.so) and so through
// the fax client. See options.cpp for the command line.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host.h"
#include "keystore.h"
#include "options.h"
#include "print_queue.h"
#include "quor/prepared_answers.h"
#include "spooler.h"

namespace telvor::spoolhost {
namespace {

constexpr int kExitSent = 0;
constexpr int kExitNotSent = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMonitor = 3;
constexpr int kExitJob = 4;

constexpr char kStoreDirectory[] = "telvor";
constexpr char kStoreFile[] = "TelvorMon.reg";
// The group CUPS runs its backends in, which reads the queue's key store.
constexpr char kCupsGroup[] = "lp";
constexpr mode_t kCupsStoreFolderMode = 0750;
constexpr char kBeforeSetup[] = ".before-setup";

class FileSource : public ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  long long Read(std::uint8_t* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t count = ::read(fd_, buffer, size);
      if (count >= 0 || errno != EINTR) return count;
    }
  }

 private:
  int fd_;
};

void Fail(const std::string& message) { std::cerr << "telvor-spool: " << message << "\n"; }

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// $XDG_CONFIG_HOME/telvor/TelvorMon.reg, else ~/.config/telvor/..., else
// the current directory.
std::string DefaultStorePath() {
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    return kStoreFile;
  }
  ::mkdir(base.c_str(), 0700);
  const std::string directory = base + "/" + kStoreDirectory;
  ::mkdir(directory.c_str(), 0700);
  return directory + "/" + kStoreFile;
}

// The CUPS queue's store: in a folder of its own that only root writes and
// the backend's group reads; written afresh, so that the monitor asks for
// (or is answered) every setting.
bool PrepareCupsStore(const std::string& path, KeyStore* store, std::string* error) {
  const group* cups = ::getgrnam(kCupsGroup);
  if (!cups) {
    *error = std::string("no group ") + kCupsGroup + ": is CUPS installed?";
    return false;
  }
  const std::string folder = path.substr(0, path.rfind('/'));
  if (!folder.empty() && ::mkdir(folder.c_str(), kCupsStoreFolderMode) == 0 &&
      ::chown(folder.c_str(), static_cast<uid_t>(-1), cups->gr_gid) != 0) {
    *error = "cannot give " + folder + " to the group " + kCupsGroup;
    return false;
  }
  store->ShareWithGroup(cups->gr_gid);
  // A fresh registration, so the monitor finds its key never set up; the
  // settings before it come back if no new ones are stored.
  if (std::rename(path.c_str(), (path + kBeforeSetup).c_str()) != 0 && errno != ENOENT) {
    *error = "cannot replace " + path;
    return false;
  }
  return true;
}

void EndCupsSetup(const std::string& path, bool stored) {
  const std::string before = path + kBeforeSetup;
  if (stored) {
    ::unlink(before.c_str());
  } else {
    std::rename(before.c_str(), path.c_str());
  }
}

// The password for the setup form: the first line of --password-file, else
// $TELVOR_PASSWORD; else the form asks for it.
bool ReadPassword(Options* options, std::string* error) {
  if (!options->password_file.empty()) {
    std::ifstream in(options->password_file);
    std::string line;
    if (!in || !std::getline(in, line)) {
      *error = "cannot read the password from " + options->password_file;
      return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    options->password = line;
  } else if (const char* password = std::getenv(kPasswordVariable)) {
    options->password = password;
  }
  return true;
}

void Prepare(const char* variable, const std::optional<std::string>& answer) {
  if (answer) ::setenv(variable, answer->c_str(), 1);
}

int Run(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    Fail(error);
    std::cerr << kUsage;
    return kExitUsage;
  }
  if (options.help) {
    std::cout << kUsage;
    return kExitSent;
  }

  int input = STDIN_FILENO;
  std::string document = "standard input";
  const bool from_stdin = options.input.empty() || options.input == "-";
  if (options.cups_setup && !options.input.empty()) {
    Fail("--cups-setup prints no document");
    return kExitUsage;
  }
  if (from_stdin && !options.cups_setup && ::isatty(STDIN_FILENO)) {
    // The terminal is for the forms; a document typed there is no print job.
    Fail("no document: name a file, or pipe one in");
    std::cerr << kUsage;
    return kExitUsage;
  }
  if (!from_stdin && !options.cups_setup) {
    input = ::open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
    // A directory opens but cannot be read: refused before a job is started.
    struct stat status {};
    if (input < 0 || ::fstat(input, &status) != 0 || S_ISDIR(status.st_mode)) {
      Fail("cannot read " + options.input);
      return kExitUsage;
    }
    document = BaseName(options.input);
  }

  if (!ReadPassword(&options, &error)) {
    Fail(error);
    return kExitUsage;
  }
  // The monitor asks its forms here; a spooler's process always has TEMP.
  Prepare(quor::kSetupAnswerVariable, SetupAnswer(options));
  Prepare(quor::kFaxNumberAnswerVariable, FaxNumberAnswer(options));
  if (!std::getenv("TEMP")) {
    const char* tmp = std::getenv("TMPDIR");
    ::setenv("TEMP", tmp && *tmp ? tmp : "/tmp", 1);
  }

  const std::string monitor_path = options.monitor.empty()
                                       ? FindMonitor(ProgramDirectory(), TELVOR_PLUGIN_DIR)
                                       : options.monitor;
  std::string store_path = options.registry;
  if (store_path.empty()) store_path = options.cups_setup ? kCupsStore : DefaultStorePath();
  KeyStore store(store_path);
  if (options.cups_setup && !PrepareCupsStore(store_path, &store, &error)) {
    Fail(error);
    return kExitMonitor;
  }
  if (!CheckStorePrivate(store_path, &error) || !store.Open(FromUtf8(kMonitorLibrary), &error)) {
    Fail(error);
    if (options.cups_setup) EndCupsSetup(store_path, false);
    return kExitMonitor;
  }
  PrintQueue queue(FromUtf8(options.printer),
                   [](const std::string& notice) { std::cout << notice << std::endl; });

  HostJob job;
  job.monitor_path = monitor_path;
  job.store = &store;
  job.queue = &queue;
  job.request.printer = FromUtf8(options.printer);
  job.request.job_id = options.job_id;
  job.request.document = FromUtf8(document);
  job.request.chunk_size = options.chunk_size;
  FileSource source(input);
  if (!options.cups_setup) job.input = &source;
  const HostOutcome outcome = RunMonitorJob(job);
  if (options.cups_setup) {
    EndCupsSetup(store_path, outcome.job == JobResult::kHandedOver && IsSetUp(store));
  }
  if (!outcome.monitor_ready) {
    Fail(outcome.error);
    return kExitMonitor;
  }
  std::cerr << "telvor-spool: port " << ToUtf8(outcome.port.name) << " of monitor "
            << ToUtf8(outcome.port.monitor) << " (" << ToUtf8(outcome.port.description) << ")\n";
  if (!outcome.error.empty()) Fail(outcome.error);
  if (options.cups_setup) {
    if (outcome.job != JobResult::kHandedOver || !IsSetUp(store)) return kExitMonitor;
    std::cout << "settings stored in " << store_path << " (readable by the group " << kCupsGroup
              << ")" << std::endl;
    return kExitSent;
  }
  switch (outcome.job) {
    case JobResult::kHandedOver:
      return kExitSent;
    case JobResult::kNotSent:
      return kExitNotSent;
    default:
      return kExitJob;
  }
}

}  // namespace
}  // namespace telvor::spoolhost

int main(int argc, char** argv) { return telvor::spoolhost::Run(argc, argv); }
