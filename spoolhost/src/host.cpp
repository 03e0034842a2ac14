#include "host.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <unistd.h>

namespace telvor::spoolhost {
namespace {

constexpr char kEntryPoint[] = "InitializePrintMonitor2";

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/'));
}

std::string FindMonitor(const std::string& program_directory, const std::string& installed) {
  const std::string beside = program_directory + "/" + kMonitorLibrary;
  if (installed.empty() || Exists(beside)) return beside;
  return program_directory + "/" + installed + "/" + kMonitorLibrary;
}

HostOutcome RunMonitorJob(const HostJob& job) {
  HostOutcome outcome;
  void* library = ::dlopen(job.monitor_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    outcome.error = std::string("cannot load the monitor: ") + ::dlerror();
    return outcome;
  }
  const auto initialize =
      reinterpret_cast<InitializePrintMonitor2Function>(::dlsym(library, kEntryPoint));
  if (!initialize) {
    outcome.error = job.monitor_path + " has no " + kEntryPoint;
    return outcome;
  }

  // Kept for as long as the monitor is loaded: here, until the process ends.
  static MonitorInitRecords records;
  FillMonitorInit(job.store, &records);
  HANDLE monitor_handle = nullptr;
  // The monitor never frees its table (Shutdown frees nothing), so it lives
  // until the process ends; held here, it stays reachable.
  static LPMONITOR2 table = nullptr;
  table = initialize(&records.init, &monitor_handle);
  if (!table) {
    outcome.error = std::string(kEntryPoint) + " returned no operations table";
    return outcome;
  }
  if (!FindPort(*table, monitor_handle, &outcome.port, &outcome.error)) return outcome;
  outcome.monitor_ready = true;

  ServePrintQueue(job.queue);
  if (job.input) {
    job.queue->AddJob(job.request.job_id);
    outcome.job = PrintJob(*table, monitor_handle, *job.input, job.request, &outcome.error);
  } else {
    outcome.job = OpenAndClosePort(*table, monitor_handle, &outcome.error);
  }
  table->pfnShutdown(monitor_handle);
  ServePrintQueue(nullptr);
  return outcome;
}

long long FileSource::Read(std::uint8_t* buffer, std::size_t size) {
  for (;;) {
    const ssize_t count = ::read(fd_, buffer, size);
    if (count >= 0 || errno != EINTR) return count;
  }
}

}  // namespace telvor::spoolhost
