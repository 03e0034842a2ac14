// telvor: the CUPS backend, a spooler host like telvor-spool fed by CUPS.
// CUPS runs it once per job (as user lp) with the job's id, user, title,
// copies and options, the PostScript its filters made on standard input,
// and the device URI "telvor:/STORE" naming the key store. Run without
// arguments it prints its device line. See backend.h.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

constexpr char kJobFolderPattern[] = "/telvor-job-XXXXXX";

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

// The job's own folder: the monitor's TEMP and the fax client's current
// directory, so its log (which holds the password) is readable by no one
// else and nothing of the job meets another job's files.
std::string MakeJobFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + kJobFolderPattern;
  if (!::mkdtemp(pattern.data())) return "";
  return pattern;
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

std::string SetupHint(const std::string& store_path) {
  std::string command = kSetupCommand;
  if (store_path != kCupsStore) command += " --registry " + store_path;
  return command;
}

// The job, run in its own folder.
int PrintInFolder(const std::string& folder, KeyStore* store, const std::string& monitor_path,
                  const JobAnswers& answers, const std::string& job_id, const std::string& title,
                  int input) {
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
  PrintQueue queue(job.request.printer, [](const std::string& notice) { Say("DEBUG: " + notice); });
  job.queue = &queue;
  JobUser user(answers, Say);
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
  return Finish(VerdictOf(outcome, user.last_message(), job_id));
}

// CUPS cancels a job with SIGTERM, which may come while the fax client
// waits on the server: the job runs in a child process, and this one ends
// it and then removes the job's folder (with the log and its password),
// however the child ends.
pid_t worker = -1;

void StopWorker(int) {
  if (worker > 0) ::kill(worker, SIGKILL);
}

int Supervised(const std::function<int()>& job) {
  worker = ::fork();
  if (worker < 0) return job();
  if (worker == 0) {
    const int code = job();
    std::fflush(nullptr);
    std::_Exit(code);
  }
  struct sigaction action {};
  action.sa_handler = StopWorker;
  ::sigaction(SIGTERM, &action, nullptr);
  int status = 0;
  while (::waitpid(worker, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
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
  if (!HasDialableNumber(answers.fax_number)) {
    // The filters' output is taken whole, so that they end normally.
    Drain(input);
    return Finish(HoldForNumber(job_id));
  }

  const char* uri = std::getenv("DEVICE_URI");
  std::string store_path, error;
  if (!StorePathOfUri(uri ? uri : argv[0], &store_path, &error)) {
    return Finish({kBackendStop, "ERROR: " + error});
  }
  KeyStore store(store_path);
  if (!CheckStorePrivate(store_path, &error)) return Finish({kBackendStop, "ERROR: " + error});
  const std::string monitor_path = FindMonitor(ProgramDirectory(), TELVOR_PLUGIN_DIR);
  const bool existed = ::access(store_path.c_str(), F_OK) == 0;
  if (!store.Open(FromUtf8(kMonitorLibrary), &error) || !IsSetUp(store)) {
    // The setup form has no one to ask here; the settings command makes a
    // store this backend can read.
    const char* queue = std::getenv("PRINTER");
    const std::string mend =
        "as root, run: " + SetupHint(store_path) + ", then: cupsenable " + (queue ? queue : "");
    if (existed && !error.empty()) return Finish({kBackendStop, "ERROR: " + error + "; " + mend});
    if (!error.empty()) Say("DEBUG: " + error);
    return Finish({kBackendStop, "ERROR: " + ToUtf8(kPrinterName) + " is not set up; " + mend});
  }

  const std::string folder = MakeJobFolder();
  if (folder.empty()) {
    return Finish({kBackendFailed, "ERROR: cannot make a folder for the job in TMPDIR"});
  }
  const int code = Supervised(
      [&] { return PrintInFolder(folder, &store, monitor_path, answers, job_id, title, input); });
  RemoveJobFolder(folder);
  return code;
}

}  // namespace
}  // namespace telvor::spoolhost::cups

int main(int argc, char** argv) { return telvor::spoolhost::cups::Run(argc, argv); }
