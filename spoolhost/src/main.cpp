// telvor-spool: prints a document to the port FX: the way the Windows print
// spooler does, through the port monitor plug-in (libquor.so) and so through
// the fax client; with --setup (or --cups-setup) it changes the stored
// settings instead. See options.cpp for the command line.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"
#include "keystore.h"
#include "options.h"
#include "print_queue.h"
#include "quor/prepared_answers.h"
#include "spooler.h"
#include "terminal.h"

namespace telvor::spoolhost {
namespace {

constexpr int kExitSent = 0;
constexpr int kExitNotSent = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMonitor = 3;
constexpr int kExitJob = 4;

constexpr char kStoreDirectory[] = "telvor";
constexpr char kStoreFile[] = "TelvorMon.reg";
constexpr mode_t kPrivateMode = 0700;
// Taken while the port is in use, so that a second print waits its turn.
constexpr char kPortLockFile[] = "port.lock";
constexpr char kClientLog[] = "telvor.log";
constexpr char kSpoolPrefix[] = "fax";
constexpr char kSpoolSuffix[] = ".tmp";
// The port's placeholder, which the monitor keeps in TEMP: no job's file.
constexpr char kPlaceholderFile[] = "fax777.tmp";
// The group CUPS runs its backends in, which reads the queue's key store.
constexpr char kCupsGroup[] = "lp";
constexpr mode_t kCupsStoreFolderMode = 0750;
constexpr char kBeforeSetup[] = ".before-setup";

void Fail(const std::string& message) { std::cerr << "telvor-spool: " << message << "\n"; }

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char here[PATH_MAX];
  return ::getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

std::string Home() {
  const char* home = std::getenv("HOME");
  return home && *home ? home : "";
}

// $XDG_CONFIG_HOME/telvor/TelvorMon.reg, else ~/.config/telvor/..., else
// the current directory.
std::string DefaultStorePath() {
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
    base = config;
  } else if (!Home().empty()) {
    base = Home() + "/.config";
  } else {
    return kStoreFile;
  }
  ::mkdir(base.c_str(), 0700);
  const std::string directory = base + "/" + kStoreDirectory;
  ::mkdir(directory.c_str(), 0700);
  return directory + "/" + kStoreFile;
}

// The user's own folder for the port's files and the fax client's log:
// $XDG_RUNTIME_DIR/telvor, else $XDG_CACHE_HOME/telvor, else
// ~/.cache/telvor. Nobody else may use it: a shared folder lets one user's
// placeholder lock everybody else out, and the log holds the password.
bool PrivateFolder(std::string* folder, std::string* error) {
  std::string base;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    base = runtime;
  } else if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache) {
    base = cache;
  } else if (!Home().empty()) {
    base = Home() + "/.cache";
  } else {
    *error = "no folder of your own for the print's files: set HOME or XDG_RUNTIME_DIR";
    return false;
  }
  ::mkdir(base.c_str(), kPrivateMode);
  *folder = Absolute(base) + "/" + kStoreDirectory;
  ::mkdir(folder->c_str(), kPrivateMode);
  struct stat status {};
  if (::lstat(folder->c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != ::geteuid() ||
      ((status.st_mode & 0777) != kPrivateMode && ::chmod(folder->c_str(), kPrivateMode) != 0)) {
    *error = *folder + " is not a folder of your own (mode 0700)";
    return false;
  }
  return true;
}

// The job's spool files ("fax*.tmp", not the port's placeholder) in TEMP.
std::set<std::string> SpoolFiles(const std::string& temp) {
  std::set<std::string> names;
  if (DIR* dir = ::opendir(temp.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != kPlaceholderFile && name.rfind(kSpoolPrefix, 0) == 0 &&
          name.size() > sizeof kSpoolSuffix &&
          name.compare(name.size() - (sizeof kSpoolSuffix - 1), std::string::npos, kSpoolSuffix) ==
              0) {
        names.insert(name);
      }
    }
    ::closedir(dir);
  }
  return names;
}

// The server's job number, from its answer "200 Job N submitted." in the log.
std::string SubmittedJob(const std::string& log) {
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  std::smatch found;
  const std::string content = text.str();
  static const std::regex submitted("Job ([0-9]+) submitted");
  return std::regex_search(content, found, submitted) ? found[1].str() : "";
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

// --setup: every field of the setup form answered, from the options, else
// from the terminal (showing the stored text, which Enter keeps), else with
// the stored text. False when the person cancels.
bool FillSetup(const KeyStore& store, Options* options) {
  std::array<std::optional<std::string>*, kSettingCount> fields = {
      &options->server, &options->user, &options->password, &options->mail, &options->attempts};
  const std::array<const char*, kSettingCount> labels = {QUOR_SERVER_IP_TEXT, QUOR_USER_TEXT,
                                                         QUOR_PASSWORD_TEXT, QUOR_MAIL_TEXT,
                                                         QUOR_DEFAULT_ATTEMPTS_TEXT};
  Terminal terminal;
  bool asked = false;
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    if (*fields[i]) continue;
    const std::string stored = ToUtf8(store.Value(kSettingNames[i]).value_or(Text()));
    if (!terminal.available()) {
      *fields[i] = stored;
      continue;
    }
    if (!asked) terminal.Say(std::string(QUOR_SETUP_CAPTION) + " (Enter keeps [text])\n");
    asked = true;
    const std::optional<std::string> typed = terminal.Ask(labels[i], stored, i == kPasswordSetting);
    if (!typed) {
      terminal.Say("  [cancel]\n");
      return false;
    }
    *fields[i] = *typed;
  }
  return true;
}

// The store is set up afresh (the monitor then asks for every setting and
// writes it); the settings before come back when none are stored.
bool BeginSetup(const std::string& path, std::string* error) {
  if (std::rename(path.c_str(), (path + kBeforeSetup).c_str()) != 0 && errno != ENOENT) {
    *error = "cannot replace " + path;
    return false;
  }
  return true;
}

void EndSetup(const std::string& path, bool stored) {
  const std::string before = path + kBeforeSetup;
  if (stored) {
    ::unlink(before.c_str());
  } else {
    std::rename(before.c_str(), path.c_str());
  }
}

// The CUPS queue's store lives in a folder of its own that only root
// writes and the backend's group reads.
bool ShareWithCups(const std::string& path, KeyStore* store, std::string* error) {
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
  return true;
}

void Prepare(const char* variable, const std::optional<std::string>& answer) {
  if (answer) ::setenv(variable, answer->c_str(), 1);
}

// What the person sees at the end, one line.
void Report(const HostOutcome& outcome, bool log_written, const std::string& log_job,
            const std::vector<std::string>& kept) {
  if (outcome.job == JobResult::kHandedOver && !log_written) {
    std::cout << "No fax sent: the fax number form was cancelled." << std::endl;
  } else if (outcome.job == JobResult::kHandedOver) {
    std::cout << "The fax was handed to the server"
              << (log_job.empty() ? "" : " as its job " + log_job) << "." << std::endl;
  } else if (outcome.job == JobResult::kNotSent && !kept.empty()) {
    std::cout << "The fax was NOT sent; the document is kept in " << kept.front() << std::endl;
  } else if (outcome.job == JobResult::kNotWritten) {
    std::cout << "No fax sent: the document could not be read whole; nothing was kept."
              << std::endl;
  } else {
    std::cout << "No fax sent." << std::endl;
  }
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
  if (options.setup && !options.input.empty()) {
    Fail("--setup prints no document");
    return kExitUsage;
  }
  if (from_stdin && !options.setup && ::isatty(STDIN_FILENO)) {
    // The terminal is for the forms; a document typed there is no print job.
    Fail("no document: name a file, or pipe one in");
    std::cerr << kUsage;
    return kExitUsage;
  }
  if (!from_stdin && !options.setup) {
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

  std::string folder;
  if (!PrivateFolder(&folder, &error)) {
    Fail(error);
    return kExitUsage;
  }
  // A spooler's process always has TEMP; by default the user's own folder.
  if (const char* temp = std::getenv("TEMP"); temp && *temp) {
    ::setenv("TEMP", Absolute(temp).c_str(), 1);
  } else {
    ::setenv("TEMP", folder.c_str(), 1);
  }
  const std::string temp = std::getenv("TEMP");

  const std::string monitor_path = options.monitor.empty()
                                       ? FindMonitor(ProgramDirectory(), TELVOR_PLUGIN_DIR)
                                       : Absolute(options.monitor);
  std::string store_path = options.registry;
  if (store_path.empty()) store_path = options.cups_setup ? kCupsStore : DefaultStorePath();
  store_path = Absolute(store_path);
  KeyStore store(store_path);
  if (options.cups_setup && !ShareWithCups(store_path, &store, &error)) {
    Fail(error);
    return kExitMonitor;
  }
  if (!CheckStorePrivate(store_path, &error) || !store.Open(FromUtf8(kMonitorLibrary), &error)) {
    Fail(error);
    return kExitMonitor;
  }
  if (options.setup) {
    if (!FillSetup(store, &options)) return kExitNotSent;
    if (!BeginSetup(store_path, &error) || !store.Open(FromUtf8(kMonitorLibrary), &error)) {
      Fail(error);
      EndSetup(store_path, false);
      return kExitMonitor;
    }
  } else if (IsSetUp(store) && AnswersSetup(options)) {
    // Stored settings are changed on purpose only, never by a stray option.
    Fail("the settings are stored already in " + store_path +
         "; change them with --setup (the form shows what is stored)");
    return kExitUsage;
  }
  Prepare(quor::kSetupAnswerVariable, SetupAnswer(options));
  Prepare(quor::kFaxNumberAnswerVariable, FaxNumberAnswer(options));

  // The port's turn: a second print waits for the first instead of failing.
  const int port_lock = ::open((folder + "/" + kPortLockFile).c_str(),
                               O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (port_lock >= 0 && ::flock(port_lock, LOCK_EX | LOCK_NB) != 0) {
    Fail("another print is using the port FX:; waiting for it to end ...");
    while (::flock(port_lock, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  // The fax client writes its log (with the password) into the current
  // folder: the user's own, never wherever the user stands.
  const std::string log = folder + "/" + kClientLog;
  ::unlink(log.c_str());
  if (::chdir(folder.c_str()) != 0) {
    Fail("cannot work in " + folder);
    return kExitJob;
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
  if (!options.setup) job.input = &source;
  const std::set<std::string> before = SpoolFiles(temp);
  const HostOutcome outcome = RunMonitorJob(job);
  // The monitor stores the settings as the port opens, before it binds the
  // fax client: they count even when that fails.
  if (options.setup) EndSetup(store_path, IsSetUp(store));
  if (!outcome.monitor_ready) {
    Fail(outcome.error);
    return kExitMonitor;
  }
  std::cerr << "telvor-spool: port " << ToUtf8(outcome.port.name) << " of monitor "
            << ToUtf8(outcome.port.monitor) << " (" << ToUtf8(outcome.port.description) << ")\n";
  if (!outcome.error.empty()) Fail(outcome.error);
  if (options.setup) {
    if (!IsSetUp(store)) return kExitMonitor;
    std::cout << "Settings stored in " << store_path
              << (options.cups_setup ? std::string(" (readable by the group ") + kCupsGroup + ")"
                                     : std::string())
              << "." << std::endl;
    return kExitSent;
  }

  std::vector<std::string> kept;
  for (const std::string& name : SpoolFiles(temp)) {
    if (before.count(name) == 0) kept.push_back(temp + "/" + name);
  }
  // Part of a document is no job: it is not left looking like one.
  if (outcome.job == JobResult::kNotWritten) {
    for (const std::string& path : kept) ::unlink(path.c_str());
  }
  struct stat log_status {};
  Report(outcome, ::stat(log.c_str(), &log_status) == 0, SubmittedJob(log), kept);
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
