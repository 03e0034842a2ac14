#include "spooler.h"

#include <cstring>

#include "telvor_common/names.h"

namespace telvor::spoolhost {
namespace {

// The spooler's handle, which the monitor only passes back.
char spooler_token;

const char16_t kRawDataType[] = u"RAW";

LPWSTR Wide(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }

// A string of a port record: it must start and end inside the buffer.
bool ReadString(const std::uint8_t* buffer, std::size_t size, const void* pointer, Text* text) {
  const auto* start = static_cast<const std::uint8_t*>(pointer);
  if (start < buffer || start >= buffer + size) return false;
  const std::size_t offset = static_cast<std::size_t>(start - buffer);
  text->clear();
  for (std::size_t at = offset; at + 2 <= size; at += 2) {
    char16_t unit;
    std::memcpy(&unit, buffer + at, sizeof unit);
    if (unit == 0) return true;
    text->push_back(unit);
  }
  return false;
}

}  // namespace

void FillMonitorInit(HKEYMONITOR key, QueryInfoKeyFunction query_info_key,
                     SetValueFunction set_value, EnumValueFunction enum_value,
                     MonitorInitRecords* records) {
  MONITORREG& registry = records->registry;
  registry = MONITORREG{};
  registry.cbSize = sizeof registry;
  registry.fpQueryInfoKey = query_info_key;
  registry.fpSetValue = set_value;
  registry.fpEnumValue = enum_value;
  MONITORINIT& init = records->init;
  init = MONITORINIT{};
  init.cbSize = sizeof init;
  init.hSpooler = &spooler_token;
  init.hckRegistryRoot = key;
  init.pMonitorReg = &registry;
  init.bLocal = TRUE;
  init.pszServerName = nullptr;
}

bool EnumerateMonitorPorts(const MONITOR2& monitor, HANDLE monitor_handle, DWORD level,
                           std::vector<PortEntry>* ports, std::string* error) {
  const std::string call = "EnumPorts level " + std::to_string(level);
  if (!monitor.pfnEnumPorts) {
    *error = "the monitor has no EnumPorts";
    return false;
  }
  DWORD needed = 0;
  DWORD returned = 0;
  SetLastError(0);
  if (monitor.pfnEnumPorts(monitor_handle, nullptr, level, nullptr, 0, &needed, &returned)) {
    *error = call + " reported ports without a buffer to put them in";
    return false;
  }
  const DWORD size_error = GetLastError();
  if (size_error != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
    *error = call + " with no buffer: error " + std::to_string(size_error) + ", size needed " +
             std::to_string(needed) + " (expected error " +
             std::to_string(ERROR_INSUFFICIENT_BUFFER) + " and a size)";
    return false;
  }

  // Records hold pointers: the buffer is aligned for them.
  std::vector<std::uint64_t> storage((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  auto* buffer = reinterpret_cast<std::uint8_t*>(storage.data());
  DWORD needed_again = 0;
  if (!monitor.pfnEnumPorts(monitor_handle, nullptr, level, buffer, needed, &needed_again,
                            &returned)) {
    *error = call + " failed with the size it asked for (" + std::to_string(needed) +
             " bytes): error " + std::to_string(GetLastError());
    return false;
  }
  const std::size_t record_size = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
  if (returned == 0 || returned * record_size > needed) {
    *error = call + " returned " + std::to_string(returned) + " records in " +
             std::to_string(needed) + " bytes";
    return false;
  }

  ports->clear();
  for (DWORD i = 0; i < returned; ++i) {
    PortEntry entry;
    bool inside;
    if (level == 1) {
      PORT_INFO_1W record;
      std::memcpy(&record, buffer + i * record_size, sizeof record);
      inside = ReadString(buffer, needed, record.pName, &entry.name);
    } else {
      PORT_INFO_2W record;
      std::memcpy(&record, buffer + i * record_size, sizeof record);
      inside = ReadString(buffer, needed, record.pPortName, &entry.name) &&
               ReadString(buffer, needed, record.pMonitorName, &entry.monitor) &&
               ReadString(buffer, needed, record.pDescription, &entry.description);
    }
    if (!inside) {
      *error =
          call + ": a string of record " + std::to_string(i) + " is not inside the buffer given";
      return false;
    }
    ports->push_back(std::move(entry));
  }
  return true;
}

bool FindPort(const MONITOR2& monitor, HANDLE monitor_handle, PortEntry* port, std::string* error) {
  for (DWORD level = 1; level <= 2; ++level) {
    std::vector<PortEntry> ports;
    if (!EnumerateMonitorPorts(monitor, monitor_handle, level, &ports, error)) return false;
    bool found = false;
    for (const PortEntry& entry : ports) {
      if (entry.name == kPortName) {
        found = true;
        if (level == 2) *port = entry;
      }
    }
    if (!found) {
      *error = "EnumPorts level " + std::to_string(level) + " does not list the port " +
               ToUtf8(kPortName);
      return false;
    }
  }
  return true;
}

JobResult OpenAndClosePort(const MONITOR2& monitor, HANDLE monitor_handle, std::string* error) {
  Text port_name = kPortName;
  HANDLE port = nullptr;
  if (!monitor.pfnOpenPort(monitor_handle, Wide(port_name.data()), &port)) {
    *error =
        "OpenPort " + ToUtf8(kPortName) + " failed (error " + std::to_string(GetLastError()) + ")";
    return JobResult::kPortNotOpened;
  }
  if (!monitor.pfnClosePort(port)) {
    *error = "ClosePort failed (error " + std::to_string(GetLastError()) + ")";
    return JobResult::kNotSent;
  }
  return JobResult::kHandedOver;
}

JobResult PrintJob(const MONITOR2& monitor, HANDLE monitor_handle, ByteSource& input,
                   const JobRequest& request, std::string* error) {
  const std::string port_text = ToUtf8(kPortName);
  Text port_name = kPortName;
  HANDLE port = nullptr;
  if (!monitor.pfnOpenPort(monitor_handle, Wide(port_name.data()), &port)) {
    *error = "OpenPort " + port_text + " failed (error " + std::to_string(GetLastError()) + ")";
    return JobResult::kPortNotOpened;
  }

  Text printer = request.printer;
  Text document = request.document;
  Text data_type = kRawDataType;
  // What the spooler tells StartDocPort about the document.
  DOC_INFO_1W info{};
  info.pDocName = Wide(document.data());
  info.pOutputFile = nullptr;
  info.pDatatype = Wide(data_type.data());
  if (!monitor.pfnStartDocPort(port, Wide(printer.data()), request.job_id, 1,
                               reinterpret_cast<LPBYTE>(&info))) {
    *error = "StartDocPort for job " + std::to_string(request.job_id) + " on \"" + ToUtf8(printer) +
             "\" failed (error " + std::to_string(GetLastError()) + ")";
    monitor.pfnClosePort(port);
    return JobResult::kNotStarted;
  }

  std::vector<std::uint8_t> chunk(request.chunk_size > 0 ? request.chunk_size : 1);
  unsigned long long total = 0;
  for (;;) {
    const long long count = input.Read(chunk.data(), chunk.size());
    if (count == 0) break;
    const char* failure = nullptr;
    if (count < 0) failure = "the document could not be read";
    std::size_t offset = 0;
    while (!failure && offset < static_cast<std::size_t>(count)) {
      const auto remaining = static_cast<DWORD>(static_cast<std::size_t>(count) - offset);
      DWORD written = 0;
      if (!monitor.pfnWritePort(port, chunk.data() + offset, remaining, &written)) {
        failure = "WritePort failed";
      } else if (written == 0 || written > remaining) {
        failure = "WritePort wrote nothing";
      } else {
        offset += written;
      }
    }
    if (failure) {
      *error = std::string(failure) + " after " + std::to_string(total + offset) +
               " bytes; the job is not sent";
      monitor.pfnClosePort(port);
      return JobResult::kNotWritten;
    }
    total += static_cast<unsigned long long>(count);
  }

  const BOOL ended = monitor.pfnEndDocPort(port);
  if (!ended) {
    *error =
        "EndDocPort failed: the fax was not handed over (the monitor keeps the job's "
        "spool file in TEMP)";
  }
  if (!monitor.pfnClosePort(port) && ended) {
    *error = "ClosePort failed (error " + std::to_string(GetLastError()) + ")";
  }
  return ended ? JobResult::kHandedOver : JobResult::kNotSent;
}

}  // namespace telvor::spoolhost
