// telvor: the CUPS backend, a spooler host like telvor-spool fed by CUPS.
// CUPS runs it once per job (as user lp) with the job's id, user, title,
// copies and options, the PostScript its filters made on standard input,
// and the device URI "telvor:/STORE" naming the key store. Run without
// arguments it prints its device line. See backend.h.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "backend.h"
#include "keystore.h"
#include "telvor/sendfax.h"
#include "telvor_common/names.h"
#include "telvor_common/posix_io.h"

namespace telvor::spoolhost::cups {
namespace {

constexpr char kJobFolderPrefix[] = "telvor-job-";
// In each job's folder: "run" names the run (its pid, then the queue and the
// job) and stays locked while the run lives, so that a later run knows the
// folder of a killed one; "sending" is made once the fax may be handed over.
constexpr char kRunFile[] = "run";
constexpr char kNewRunFile[] = "run.new";
constexpr char kSendingFile[] = "sending";
// How long a run waits for an earlier run of the same job to end: its worker
// dies with it, a moment later.
constexpr int kEarlierRunWaitMs = 5000;
constexpr int kEarlierRunPollMs = 50;

// One status line to CUPS.
void Say(const std::string& line) {
  if (line.empty()) return;
  const std::string text = line + "\n";
  WriteAll(STDERR_FILENO, text.data(), text.size());
}

int Finish(const Verdict& verdict) {
  Say(verdict.line);
  return verdict.exit_code;
}

void Drain(int fd) {
  char buffer[4096];
  for (;;) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count == 0 || (count < 0 && errno != EINTR)) return;
  }
}

Verdict MaybeSent(const std::string& job_id, const std::string& what) {
  return {kBackendHold, "ERROR: " + what +
                            " while it handed the fax to the server: it may have been sent. "
                            "Look at the server's queue before sending it again with: lp -i " +
                            job_id + " -H resume"};
}

std::string TempBase() {
  const char* base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

// Which queue's job a run is for.
std::string RunName(const std::string& job_id) {
  const char* printer = std::getenv("PRINTER");
  return std::string(printer ? printer : "") + "\n" + job_id + "\n";
}

// The job's own folder: the monitor's TEMP and the fax client's current
// directory, so its log (which holds the password) is readable by no one
// else and nothing of the job meets another job's files. Its run file is
// locked before it bears its name, so no other run takes the folder for a
// dead one. `*lock` stays open (and locked) until the process ends.
std::string MakeJobFolder(const std::string& run_name, int* lock) {
  std::string folder = TempBase() + "/" + kJobFolderPrefix + "XXXXXX";
  if (!::mkdtemp(folder.data())) return "";
  const std::string fresh = folder + "/" + kNewRunFile;
  const std::string record = std::to_string(::getpid()) + "\n" + run_name;
  const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      WriteAll(fd, record.data(), record.size()) != 0 ||
      ::rename(fresh.c_str(), (folder + "/" + kRunFile).c_str()) != 0) {
    if (fd >= 0) ::close(fd);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return "";
  }
  *lock = fd;
  return folder;
}

enum class EarlierRun { kNone, kSending, kAlive };

// Removes the folders of runs killed before they could (their run file is
// no longer locked). Says whether one was a run of this same job that may
// have handed the fax over, or one is still going.
EarlierRun RemoveDeadRuns(const std::string& run_name) {
  EarlierRun found = EarlierRun::kNone;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(TempBase(), error)) {
    const std::string folder = entry.path().string();
    struct stat status {};
    if (entry.path().filename().string().rfind(kJobFolderPrefix, 0) != 0 ||
        ::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid()) {
      continue;
    }
    // No run file: a folder being made, left alone.
    const int fd =
        ::open((folder + "/" + kRunFile).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    char record[512];
    const ssize_t size = ::read(fd, record, sizeof record);
    const std::string text(record, size > 0 ? static_cast<std::size_t>(size) : 0);
    const bool same_job = text.substr(text.find('\n') + 1) == run_name;
    bool dead = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    for (int waited = 0; !dead && same_job && waited < kEarlierRunWaitMs;
         waited += kEarlierRunPollMs) {
      ::usleep(kEarlierRunPollMs * 1000);
      dead = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    }
    if (dead) {
      if (same_job && ::access((folder + "/" + kSendingFile).c_str(), F_OK) == 0) {
        found = EarlierRun::kSending;
      }
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
      Say("DEBUG: removed the folder of a dead run, " + folder);
    } else if (same_job) {
      found = EarlierRun::kAlive;
    }
    ::close(fd);
  }
  return found;
}

// CUPS keeps the document: the job's spool file goes, and so does the log
// unless the administrator asked to keep it.
void RemoveJobFolder(const std::string& folder) {
  std::error_code ignored;
  if (!KeepLogRequested(std::getenv(kKeepLogVariable))) {
    std::filesystem::remove_all(folder, ignored);
    return;
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    if (entry.path().filename() != TELVOR_LOG_FILE) std::filesystem::remove(entry.path(), ignored);
  }
  Say("DEBUG: " TELVOR_LOG_FILE " kept in " + folder);
}

// The job (CUPS's arguments: job-id, user, title, ...), run in its own folder.
int PrintInFolder(const std::string& folder, KeyStore* store, const std::string& monitor_path,
                  const JobAnswers& answers, const std::string& setup_advice, char** argv,
                  int input) {
  const std::string job_id = argv[1];
  const std::string requesting_user = argv[2];
  const std::string title = argv[3];
  if (::chdir(folder.c_str()) != 0) {
    return Finish({kBackendFailed, "ERROR: cannot work in the job's folder " + folder});
  }
  ::setenv("TEMP", folder.c_str(), 1);

  const char* printer = std::getenv("PRINTER");
  HostJob job;
  job.monitor_path = monitor_path;
  job.store = store;
  job.request.printer = FromUtf8(printer ? printer : "");
  job.request.job_id = static_cast<std::uint32_t>(std::strtoul(job_id.c_str(), nullptr, 10));
  job.request.document = FromUtf8(title);
  // The user CUPS names as the job's, for the notification address.
  job.request.user_name = FromUtf8(requesting_user);
  if (answers.letter) {
    job.request.page_width = kLetterWidthMm;
    job.request.page_length = kLetterLengthMm;
  }
  job.request.vertical_resolution = answers.vertical_resolution;
  PrintQueue queue(job.request.printer, [](const std::string& notice) { Say("DEBUG: " + notice); });
  job.queue = &queue;
  // Marked before the monitor may hand the fax over, for the parent and for
  // a later run should both be killed.
  const std::string sending = folder + "/" + kSendingFile;
  JobUser user(answers, Say, [&sending] {
    const int fd = ::open(sending.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) ::close(fd);
  });
  job.user = &user;
  FileSource source(input);
  job.input = &source;

  const HostOutcome outcome = RunMonitorJob(job);
  if (outcome.monitor_ready) {
    Say("DEBUG: port " + ToUtf8(outcome.port.name) + " of monitor " + ToUtf8(outcome.port.monitor));
  }
  if (!outcome.error.empty()) Say("DEBUG: " + outcome.error);
  if (user.asked()) {
    for (const std::string& line : ChangedAnswers(answers)) Say(line);
  }
  return Finish(VerdictOf(outcome, user.last_message(), job_id, setup_advice));
}

// CUPS cancels a job with SIGTERM, which may come while the fax client
// waits on the server: the job runs in a child process, and this one ends
// it and then removes the job's folder (with the log and its password),
// however the child ends.
pid_t worker = -1;

void StopWorker(int) {
  if (worker > 0) ::kill(worker, SIGKILL);
}

// CUPS takes a backend killed with SIGKILL (or SIGTERM) for one that ended
// well, and would complete the job. Should this process die so, the child
// hears of it at once: it stops the queue (which keeps the job, not
// completed) with the reason and ends; it never carries on alone.
std::string orphan_lines;

void OnParentDeath(int) {
  WriteAll(STDERR_FILENO, orphan_lines.data(), orphan_lines.size());
  std::_Exit(kBackendStop);
}

int Supervised(const std::function<int()>& job, const std::string& folder,
               const std::string& job_id) {
  const char* queue = std::getenv("PRINTER");
  orphan_lines = "ERROR: The backend of job " + job_id +
                 " was killed before the job ended: the queue is stopped and the job kept; "
                 "start the queue again with: cupsenable " +
                 (queue ? queue : "") + "\nSTATE: paused\n";
  // A SIGTERM from here to the handler waits, so that it always meets the worker.
  sigset_t term, previous;
  ::sigemptyset(&term);
  ::sigaddset(&term, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &term, &previous);
  const pid_t parent = ::getpid();
  worker = ::fork();
  // Run here, the job would be completed by CUPS should this process be killed.
  if (worker < 0) {
    const int error = errno;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    return Finish({kBackendRetry, std::string("ERROR: cannot start the job's process (") +
                                      std::strerror(error) + "); CUPS tries again later"});
  }
  if (worker == 0) {
    struct sigaction orphaned {};
    orphaned.sa_handler = OnParentDeath;
    ::sigaction(SIGHUP, &orphaned, nullptr);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    // The parent may have died before the request took effect.
    if (::prctl(PR_SET_PDEATHSIG, SIGHUP) != 0 || ::getppid() != parent) OnParentDeath(SIGHUP);
    const int code = job();
    std::fflush(nullptr);
    std::_Exit(code);
  }
  struct sigaction action {};
  action.sa_handler = StopWorker;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  int status = 0;
  while (::waitpid(worker, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  // Once the upload may have begun nothing lets CUPS run the job again by itself.
  if (::access((folder + "/" + kSendingFile).c_str(), F_OK) == 0) {
    return Finish(MaybeSent(job_id, "The job stopped"));
  }
  Say("INFO: Job stopped before the fax was handed over");
  return kBackendFailed;
}

int Run(int argc, char** argv) {
  if (argc == 1) {
    std::fputs(kDeviceLine, stdout);
    return kBackendOk;
  }
  if (argc < 6 || argc > 7) {
    Say("ERROR: usage: telvor job-id user title copies options [file]");
    return kBackendFailed;
  }
  ::umask(077);
  const std::string job_id = argv[1];
  const std::string title = argv[3];
  const JobAnswers answers = AnswersOf(ParseJobOptions(argv[5]), title);

  int input = STDIN_FILENO;
  if (argc == 7) {
    input = ::open(argv[6], O_RDONLY | O_CLOEXEC);
    if (input < 0) return Finish({kBackendFailed, std::string("ERROR: cannot read ") + argv[6]});
  }
  if (const std::optional<Verdict> held = RefusedAnswers(answers, job_id)) {
    // The filters' output is taken whole, so that they end normally.
    Drain(input);
    return Finish(*held);
  }

  const char* uri = std::getenv("DEVICE_URI");
  std::string store_path, error;
  if (!StorePathOfUri(uri ? uri : argv[0], &store_path, &error)) {
    return Finish({kBackendStop, "ERROR: " + error});
  }
  const char* queue = std::getenv("PRINTER");
  const std::string setup_advice = SetupAdvice(store_path, queue ? queue : "");
  KeyStore store(store_path);
  if (!CheckStorePrivate(store_path, &error)) return Finish({kBackendStop, "ERROR: " + error});
  const std::string monitor_path = FindMonitor(ProgramDirectory(), TELVOR_PLUGIN_DIR);
  const bool existed = ::access(store_path.c_str(), F_OK) == 0;
  if (!store.Open(FromUtf8(kMonitorLibrary), &error) || !IsSetUp(store)) {
    // The setup form has no one to ask here; the settings command makes a
    // store this backend can read.
    if (existed && !error.empty()) {
      return Finish({kBackendStop, "ERROR: " + error + "; " + setup_advice});
    }
    if (!error.empty()) Say("DEBUG: " + error);
    return Finish(
        {kBackendStop, "ERROR: " + ToUtf8(kPrinterName) + " is not set up; " + setup_advice});
  }

  const std::string run_name = RunName(job_id);
  switch (RemoveDeadRuns(run_name)) {
    case EarlierRun::kSending:
      Drain(input);
      return Finish(MaybeSent(job_id, "An earlier run of this job was stopped"));
    case EarlierRun::kAlive:
      Drain(input);
      return Finish({kBackendHold,
                     "ERROR: an earlier run of this job is still going; release "
                     "this one once it has ended with: lp -i " +
                         job_id + " -H resume"});
    case EarlierRun::kNone:
      break;
  }
  int lock = -1;
  const std::string folder = MakeJobFolder(run_name, &lock);
  if (folder.empty()) {
    return Finish({kBackendFailed, "ERROR: cannot make a folder for the job in TMPDIR"});
  }
  const int code = Supervised(
      [&] {
        return PrintInFolder(folder, &store, monitor_path, answers, setup_advice, argv, input);
      },
      folder, job_id);
  RemoveJobFolder(folder);
  return code;
}

}  // namespace
}  // namespace telvor::spoolhost::cups

int main(int argc, char** argv) { return telvor::spoolhost::cups::Run(argc, argv); }
