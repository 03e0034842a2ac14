// What both Linux hosts of the monitor (telvor-spool and the CUPS backend)
// do with the plug-in: load it, register the host table (quor/host.h) that
// answers its forms and hears its messages and job reports, hand it the key
// store as its registry key, check that it offers "FX:", and drive one job
// (or only an opening of the port, which is where the monitor asks for its
// settings) through the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "forms.h"
#include "keystore.h"
#include "print_queue.h"
#include "quor/host.h"
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

// The person (or the job's options) behind a host: what the monitor asks and
// tells through the host table.
class HostUser {
 public:
  virtual ~HostUser() = default;
  // Answers `form` (kSetupForm or kFaxNumberForm): `texts` holds its initial
  // texts and, on kOk, the answers, which then go through the controls'
  // rules (FilterInput). On kFailed, `*error` says why.
  virtual FormAnswer AskForm(const Form& form, FormTexts& texts, std::uint32_t* error) = 0;
  // A message box of the monitor, shown at once.
  virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
};

// What the monitor reported of the job (QUOR_JOB_...); state 0: nothing.
struct JobNews {
  std::uint32_t state = 0;
  std::int32_t send_fax_result = 0;
  std::uint32_t server_job = 0;
  std::uint32_t error = 0;
  std::string spool_file;  // from the start of the job on
};

struct HostJob {
  std::string monitor_path;
  HostUser* user = nullptr;
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
  JobNews news;
  std::string error;  // why, when not ready or the job did not hand the fax over
};

// The monitor stays loaded until the process ends; each run initialises it
// afresh, as a spooler that loads it again.
HostOutcome RunMonitorJob(const HostJob& job);

}  // namespace telvor::spoolhost
