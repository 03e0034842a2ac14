// telvor-spool: prints a document to the port FX: the way the Windows print
// spooler does, through the port monitor plug-in (libquor.so) and so through
// the fax client. See options.cpp for the command line.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

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

constexpr char kMonitorLibrary[] = "libquor.so";
constexpr char kEntryPoint[] = "InitializePrintMonitor2";
constexpr char kStoreDirectory[] = "telvor";
constexpr char kStoreFile[] = "TelvorMon.reg";

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

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/'));
}

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
  if (from_stdin && ::isatty(STDIN_FILENO)) {
    // The terminal is for the forms; a document typed there is no print job.
    Fail("no document: name a file, or pipe one in");
    std::cerr << kUsage;
    return kExitUsage;
  }
  if (!from_stdin) {
    input = ::open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
    // A directory opens but cannot be read: refused before a job is started.
    struct stat status {};
    if (input < 0 || ::fstat(input, &status) != 0 || S_ISDIR(status.st_mode)) {
      Fail("cannot read " + options.input);
      return kExitUsage;
    }
    document = BaseName(options.input);
  }

  // The monitor asks its forms here; a spooler's process always has TEMP.
  Prepare(quor::kSetupAnswerVariable, SetupAnswer(options));
  Prepare(quor::kFaxNumberAnswerVariable, FaxNumberAnswer(options));
  if (!std::getenv("TEMP")) {
    const char* tmp = std::getenv("TMPDIR");
    ::setenv("TEMP", tmp && *tmp ? tmp : "/tmp", 1);
  }

  const std::string monitor_path =
      options.monitor.empty() ? ProgramDirectory() + "/" + kMonitorLibrary : options.monitor;
  void* library = ::dlopen(monitor_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    Fail(std::string("cannot load the monitor: ") + ::dlerror());
    return kExitMonitor;
  }
  auto initialize =
      reinterpret_cast<InitializePrintMonitor2Function>(::dlsym(library, kEntryPoint));
  if (!initialize) {
    Fail(monitor_path + " has no " + kEntryPoint);
    return kExitMonitor;
  }

  KeyStore store(options.registry.empty() ? DefaultStorePath() : options.registry);
  if (!store.Open(FromUtf8(BaseName(monitor_path)), &error)) {
    Fail(error);
    return kExitMonitor;
  }
  PrintQueue queue(FromUtf8(options.printer),
                   [](const std::string& notice) { std::cout << notice << std::endl; });
  ServePrintQueue(&queue);

  // Kept for as long as the monitor is loaded: here, until the process ends.
  static MonitorInitRecords records;
  FillMonitorInit(&store, &records);
  HANDLE monitor_handle = nullptr;
  // The monitor never frees its table (Shutdown frees nothing), so it lives
  // until the process ends; held here, it stays reachable.
  static LPMONITOR2 table = nullptr;
  table = initialize(&records.init, &monitor_handle);
  if (!table) {
    Fail(std::string(kEntryPoint) + " returned no operations table");
    return kExitMonitor;
  }

  PortEntry port;
  if (!FindPort(*table, monitor_handle, &port, &error)) {
    Fail(error);
    return kExitMonitor;
  }
  std::cerr << "telvor-spool: port " << ToUtf8(port.name) << " of monitor " << ToUtf8(port.monitor)
            << " (" << ToUtf8(port.description) << ")\n";

  JobRequest request;
  request.printer = FromUtf8(options.printer);
  request.job_id = options.job_id;
  request.document = FromUtf8(document);
  request.chunk_size = options.chunk_size;
  queue.AddJob(request.job_id);
  FileSource source(input);
  const JobResult result = PrintJob(*table, monitor_handle, source, request, &error);
  if (!error.empty()) Fail(error);
  table->pfnShutdown(monitor_handle);
  ServePrintQueue(nullptr);
  switch (result) {
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
