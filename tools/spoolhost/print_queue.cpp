#include "print_queue.h"

namespace telvor::spoolhost {
namespace {

PrintQueue* served_queue = nullptr;

// What the job-control commands of SetJobW (level 0) make of a job.
const char* CommandState(std::uint32_t command) {
  switch (command) {
    case 1:
      return "paused";
    case 2:
      return "printing";  // resumed
    case 3:
      return "cancelled";
    case 4:
      return "restarted";
    case 5:
      return "deleted";
    case 6:
      return "sent to printer";
    case 7:
      return "last page ejected";
    default:
      return nullptr;
  }
}

}  // namespace

void PrintQueue::AddJob(std::uint32_t job_id) { jobs_[job_id] = "printing"; }

std::string PrintQueue::JobState(std::uint32_t job_id) const {
  const auto found = jobs_.find(job_id);
  return found == jobs_.end() ? std::string() : found->second;
}

bool PrintQueue::Open(const char16_t* name, void** handle, std::uint32_t* error) {
  if (!handle) {
    *error = kPrinterInvalidParameter;
    return false;
  }
  if (!name || TextView(name) != printer_name_) {
    *error = kPrinterInvalidName;
    return false;
  }
  const std::uintptr_t token = next_handle_++;
  handles_.insert(token);
  *handle = reinterpret_cast<void*>(token);
  return true;
}

bool PrintQueue::SetJob(void* handle, std::uint32_t job_id, std::uint32_t level, const void* job,
                        std::uint32_t command, std::uint32_t* error) {
  if (handles_.count(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
    *error = kPrinterInvalidHandle;
    return false;
  }
  // Only job-control commands; job records (levels 1 to 4) are not kept here.
  if (level != 0 || job != nullptr) {
    *error = kPrinterNotSupported;
    return false;
  }
  const auto found = jobs_.find(job_id);
  const char* state = CommandState(command);
  if (found == jobs_.end() || !state) {
    *error = kPrinterInvalidParameter;
    return false;
  }
  found->second = state;
  if (notice_) notice_("job " + std::to_string(job_id) + ": " + state);
  return true;
}

bool PrintQueue::Close(void* handle, std::uint32_t* error) {
  if (handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
    *error = kPrinterInvalidHandle;
    return false;
  }
  return true;
}

void ServePrintQueue(PrintQueue* queue) { served_queue = queue; }
PrintQueue* ServedPrintQueue() { return served_queue; }

}  // namespace telvor::spoolhost
