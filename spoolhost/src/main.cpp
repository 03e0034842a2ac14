// telvor-spool: prints a document to the port FX: the way the Windows print
// spooler does, through the port monitor plug-in (libquor.so) and so through
// the fax client; with --setup (or --cups-setup) it changes the stored
// settings instead. See options.cpp for the command line.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host.h"
#include "keystore.h"
#include "options.h"
#include "print_queue.h"
#include "protocol.h"
#include "setup.h"
#include "spooler.h"
#include "telvor/sendfax.h"
#include "telvor_common/win_errors.h"
#include "terminal_forms.h"

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
// The group CUPS runs its backends in, which reads the queue's key store.
constexpr char kCupsGroup[] = "lp";
constexpr mode_t kCupsStoreFolderMode = 0750;

// The CUPS queue of docs/linux.md, which turns PDF, text and images into
// PostScript.
constexpr char kCupsQueue[] = "Telvor_Printer";

void Fail(const std::string& message) { std::cerr << "telvor-spool: " << message << "\n"; }

// The document, its first block read ahead to judge it and then handed on
// first; whether a read failed is remembered.
class HeadSource : public ByteSource {
 public:
  explicit HeadSource(int fd) : file_(fd) {}

  // Reads up to `size` bytes ahead; a failed read shows when the job reads.
  void ReadHead(std::size_t size) {
    head_.resize(size);
    std::size_t got = 0;
    while (got < size) {
      const long long n = file_.Read(reinterpret_cast<std::uint8_t*>(&head_[got]), size - got);
      if (n <= 0) {
        pending_failure_ = n < 0;
        break;
      }
      got += static_cast<std::size_t>(n);
    }
    head_.resize(got);
  }
  const std::string& head() const { return head_; }
  // Whether the head was read without a failure (it may be all there is).
  bool head_read() const { return !pending_failure_; }
  bool failed() const { return failed_; }

  long long Read(std::uint8_t* buffer, std::size_t size) override {
    if (offset_ < head_.size()) {
      const std::size_t count = std::min(size, head_.size() - offset_);
      std::memcpy(buffer, head_.data() + offset_, count);
      offset_ += count;
      return static_cast<long long>(count);
    }
    const long long n = pending_failure_ ? -1 : file_.Read(buffer, size);
    pending_failure_ = false;
    failed_ = failed_ || n < 0;
    return n;
  }

 private:
  FileSource file_;
  std::string head_;
  std::size_t offset_ = 0;
  bool pending_failure_ = false;
  bool failed_ = false;
};

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

FormAnswer AskTerminal(const Form& form, FormTexts& texts, const std::vector<bool>& ask,
                       int* error) {
  return AskOnTerminal(form, texts, ask, error);
}

// The person at the terminal, or the options that answer for them.
class SpoolUser : public HostUser {
 public:
  explicit SpoolUser(const Options& options) : options_(options) {}

  FormAnswer AskForm(const Form& form, FormTexts& texts, std::uint32_t* error) override {
    const bool setup = &form == &kSetupForm;
    if (setup ? options_.cancel_setup : options_.cancel_fax) return FormAnswer::kCancel;
    const GivenAnswers given = setup ? SetupAnswers(options_) : FaxNumberAnswers(options_);
    bool answered = false;
    for (std::size_t i = 0; i < form.field_count; ++i) {
      if (!given[i]) continue;
      texts[i] = FromUtf8(*given[i]);
      answered = true;
    }
    // Answers given on the command line stand for the whole form.
    if (answered) return FormAnswer::kOk;
    int terminal_error = 0;
    const FormAnswer answer = AskOnTerminal(form, texts, {}, &terminal_error);
    if (answer == FormAnswer::kFailed) {
      Fail(ToUtf8(form.caption) + ": no terminal to ask on (" + std::strerror(terminal_error) +
           "); give the answers as options, see --help");
      *error = win_error::FromErrno(terminal_error);
    }
    return answer;
  }

  void ShowMessage(const std::string& caption, const std::string& text) override {
    std::string line = caption + ": " + text;
    if (line.back() != '\n') line.push_back('\n');
    std::cerr << line << std::flush;
  }

 private:
  const Options& options_;
};

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

// What the person sees at the end, one line. `unreadable`: the document
// could not be read whole; `document` names it, null for standard input.
void Report(const HostOutcome& outcome, bool unreadable, const char* document) {
  const JobNews& news = outcome.news;
  if (news.state == QUOR_JOB_CANCELLED) {
    std::cout << "No fax sent: the fax number form was cancelled." << std::endl;
  } else if (news.state == QUOR_JOB_SENT) {
    std::cout << "The fax was handed to the server"
              << (news.server_job == 0 ? "" : " as its job " + std::to_string(news.server_job))
              << "." << std::endl;
  } else if (news.state == QUOR_JOB_NOT_SENT && !news.spool_file.empty()) {
    std::cout << "The fax was NOT sent; the document is kept in " << news.spool_file << std::endl;
  } else if (outcome.job == JobResult::kNotWritten && unreadable) {
    std::cout << "No fax sent: the document could not be read whole; nothing was kept."
              << std::endl;
  } else if (outcome.job == JobResult::kNotWritten) {
    // The port could not keep it in TEMP (full, or not writable).
    const char* temp = std::getenv("TEMP");
    std::cout << "No fax sent: the document could not be kept in " << (temp ? temp : "TEMP")
              << " (is it full?); nothing was kept"
              << (document ? std::string(": ") + document + " is unchanged."
                           : std::string(", and what came on standard input is lost: send it "
                                         "again once there is room."))
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
  HeadSource source(input);
  if (!options.setup) {
    // The fax server takes PostScript only: anything else is sent to the
    // CUPS queue, whose filters make PostScript of it.
    source.ReadHead(client::kBlockSize);
    const std::string& head = source.head();
    if (source.head_read() && client::FindPostScriptMarker(head.data(), head.size()) < 0) {
      Fail(document +
           (head.rfind("%PDF", 0) == 0 ? " is a PDF"
                                       : " is not PostScript (no \"%!PS\" in its first " +
                                             std::to_string(client::kBlockSize) + " bytes)") +
           "; the fax server takes PostScript only. Print it through the CUPS queue, which "
           "converts it: lp -d " +
           kCupsQueue + " -o fax-number=NUMBER" + (from_stdin ? "" : " " + options.input));
      return kExitUsage;
    }
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
    if (!FillSetup(store, &options, AskTerminal)) return kExitNotSent;
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
  // The one who runs the command printed, for the notification address.
  if (const passwd* account = ::getpwuid(::geteuid()))
    job.request.user_name = FromUtf8(account->pw_name);
  SpoolUser user(options);
  job.user = &user;
  if (!options.setup) job.input = &source;
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

  // Part of a document is no job: it is not left looking like one.
  if (outcome.job == JobResult::kNotWritten && !outcome.news.spool_file.empty()) {
    ::unlink(outcome.news.spool_file.c_str());
  }
  Report(outcome, source.failed(), from_stdin ? nullptr : options.input.c_str());
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
