#include "print_queue.h"

#include "quor/spooler.h"
#include "telvor_common/win_errors.h"

namespace telvor::spoolhost {
namespace {

constexpr char kPrinting[] = "printing";
constexpr char kSentToPrinter[] = "sent to printer";

}  // namespace

void PrintQueue::AddJob(std::uint32_t job_id) { jobs_[job_id] = kPrinting; }

std::string PrintQueue::JobState(std::uint32_t job_id) const {
  const auto found = jobs_.find(job_id);
  return found == jobs_.end() ? std::string() : found->second;
}

bool PrintQueue::Open(const char16_t* name, void** handle, std::uint32_t* error) {
  if (!handle) {
    *error = win_error::kInvalidParameter;
    return false;
  }
  if (!name || TextView(name) != printer_name_) {
    *error = win_error::kInvalidPrinterName;
    return false;
  }
  const std::uintptr_t token = next_handle_++;
  handles_.insert(token);
  *handle = reinterpret_cast<void*>(token);
  return true;
}

bool PrintQueue::SetJob(void* handle, std::uint32_t job_id, std::uint32_t command,
                        std::uint32_t* error) {
  if (handles_.count(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
    *error = win_error::kInvalidHandle;
    return false;
  }
  // The one command a port monitor gives; job records are not kept here.
  if (command != JOB_CONTROL_SENT_TO_PRINTER) {
    *error = win_error::kNotSupported;
    return false;
  }
  const auto found = jobs_.find(job_id);
  if (found == jobs_.end()) {
    *error = win_error::kInvalidParameter;
    return false;
  }
  found->second = kSentToPrinter;
  if (notice_) notice_("job " + std::to_string(job_id) + ": " + kSentToPrinter);
  return true;
}

bool PrintQueue::Knows(void* handle, std::uint32_t job_id, std::uint32_t* error) const {
  if (handles_.count(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
    *error = win_error::kInvalidHandle;
    return false;
  }
  if (jobs_.count(job_id) == 0) {
    *error = win_error::kInvalidParameter;
    return false;
  }
  return true;
}

bool PrintQueue::Close(void* handle, std::uint32_t* error) {
  if (handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
    *error = win_error::kInvalidHandle;
    return false;
  }
  return true;
}

}  // namespace telvor::spoolhost
