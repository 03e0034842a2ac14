// What both Linux hosts of the monitor (telvor-spool and the CUPS backend)
// do with the plug-in: load it, hand it the key store as its registry key,
// check that it offers "FX:", and drive one job (or only an opening of the
// port, which is where the monitor asks for its settings) through the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "keystore.h"
#include "print_queue.h"
#include "spooler.h"

namespace telvor::spoolhost {

inline constexpr char kMonitorLibrary[] = "libquor.so";
// The CUPS queue's key store, where the device URI "telvor:/" points.
inline constexpr char kCupsStore[] = "/etc/telvor/TelvorMon.reg";

// The folder of the running program.
std::string ProgramDirectory();

// The plug-in beside the program (the build tree), else in `installed`, a
// folder relative to the program's (where `cmake --install` puts it).
std::string FindMonitor(const std::string& program_directory, const std::string& installed);

// A document read from an open file descriptor (a file, a pipe, standard
// input), a read interrupted by a signal taken up again.
class FileSource : public ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  long long Read(std::uint8_t* buffer, std::size_t size) override;

 private:
  int fd_;
};

struct HostJob {
  std::string monitor_path;
  KeyStore* store = nullptr;  // opened
  PrintQueue* queue = nullptr;
  JobRequest request;
  // The document; null: the port is only opened and closed again.
  ByteSource* input = nullptr;
};

struct HostOutcome {
  bool monitor_ready = false;  // loaded, initialised, "FX:" listed
  JobResult job = JobResult::kPortNotOpened;
  PortEntry port;
  std::string error;  // why, when not ready or the job did not hand the fax over
};

// Once per process: the monitor stays loaded until the process ends.
HostOutcome RunMonitorJob(const HostJob& job);

}  // namespace telvor::spoolhost
