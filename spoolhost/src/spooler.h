// What a print spooler does with a port monitor, for the hosts that stand in
// for the Windows spooler: find the monitor's port through EnumPorts and
// drive one print job through the port's operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quor/spooler.h"
#include "telvor_common/text.h"

namespace telvor::spoolhost {

// What the spooler hands InitializePrintMonitor2: the monitor keeps using
// both records while it is loaded, so they outlive it.
struct MonitorInitRecords {
  MONITORREG registry;
  MONITORINIT init;
};

using QueryInfoKeyFunction = decltype(MONITORREG::fpQueryInfoKey);
using SetValueFunction = decltype(MONITORREG::fpSetValue);
using EnumValueFunction = decltype(MONITORREG::fpEnumValue);

// Fills `records` with the monitor's `key` and the three registry functions
// the monitor calls on it; the other registry slots stay empty.
void FillMonitorInit(HKEYMONITOR key, QueryInfoKeyFunction query_info_key,
                     SetValueFunction set_value, EnumValueFunction enum_value,
                     MonitorInitRecords* records);

struct PortEntry {
  Text name;
  Text monitor;      // level 2 only
  Text description;  // level 2 only
};

// Asks the monitor for its ports at `level` (1 or 2) the way the spooler
// does: first with no buffer to learn the size needed, then with a buffer of
// exactly that size. Every string must lie inside that buffer. False, with
// the reason, when the monitor breaks the pattern.
bool EnumerateMonitorPorts(const MONITOR2& monitor, HANDLE monitor_handle, DWORD level,
                           std::vector<PortEntry>* ports, std::string* error);

// Finds the port "FX:" at levels 1 and 2; `*port` receives the level 2 entry.
bool FindPort(const MONITOR2& monitor, HANDLE monitor_handle, PortEntry* port, std::string* error);

// The job's document, read in chunks.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `size` bytes into `buffer`; 0 at the end, -1 when reading fails.
  virtual long long Read(std::uint8_t* buffer, std::size_t size) = 0;
};

constexpr std::uint32_t kDefaultJobId = 1;
constexpr std::size_t kDefaultChunkSize = 4096;

struct JobRequest {
  Text printer;  // the printer whose job this is
  std::uint32_t job_id = kDefaultJobId;
  Text document;  // the document's name, as the spooler tells the port
  std::size_t chunk_size = kDefaultChunkSize;
  // What the spooler knows of the job: who printed it, and on what paper
  // (0: A4 at 196 lines per inch).
  Text user_name;
  std::uint32_t page_width = 0;
  std::uint32_t page_length = 0;
  std::uint32_t vertical_resolution = 0;
};

enum class JobResult {
  kHandedOver,     // EndDocPort succeeded
  kNotSent,        // EndDocPort failed: the monitor keeps the spool file
  kPortNotOpened,  // OpenPort failed
  kNotStarted,     // StartDocPort failed
  kNotWritten,     // the document could not be read or written to the port;
                   // the job is not ended, so nothing half-written is sent
};

// OpenPort, StartDocPort, WritePort for each chunk (the rest of a short
// write is offered again), EndDocPort and ClosePort. `error` receives a
// reason for every result but kHandedOver.
JobResult PrintJob(const MONITOR2& monitor, HANDLE monitor_handle, ByteSource& input,
                   const JobRequest& request, std::string* error);

// Only OpenPort and ClosePort: the monitor reads (and at first use asks for)
// its settings when the port opens. kHandedOver when both succeeded.
JobResult OpenAndClosePort(const MONITOR2& monitor, HANDLE monitor_handle, std::string* error);

}  // namespace telvor::spoolhost
