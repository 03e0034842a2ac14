// The host's print queue: the one printer the host prints to, its jobs and
// the printer handles the monitor opens through the printer calls of the
// host table (host.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "telvor_common/text.h"

namespace telvor::spoolhost {

class PrintQueue {
 public:
  using Notice = std::function<void(const std::string&)>;

  // `notice` receives each change of a job's state as "job 1: sent to printer".
  PrintQueue(Text printer_name, Notice notice)
      : printer_name_(std::move(printer_name)), notice_(std::move(notice)) {}

  // A job the host is about to print; its state starts as "printing".
  void AddJob(std::uint32_t job_id);
  // The job's state, or "" for a job the queue does not know.
  std::string JobState(std::uint32_t job_id) const;
  std::size_t OpenHandles() const { return handles_.size(); }

  // The printer calls: true on success, otherwise false with the code the
  // Windows spooler gives in `*error`.
  bool Open(const char16_t* name, void** handle, std::uint32_t* error);
  bool SetJob(void* handle, std::uint32_t job_id, std::uint32_t command, std::uint32_t* error);
  bool Close(void* handle, std::uint32_t* error);
  // Whether `handle` is open and the queue has the job (GetJob's checks).
  bool Knows(void* handle, std::uint32_t job_id, std::uint32_t* error) const;

 private:
  Text printer_name_;
  Notice notice_;
  std::map<std::uint32_t, std::string> jobs_;
  std::set<std::uintptr_t> handles_;
  std::uintptr_t next_handle_ = 1;
};

}  // namespace telvor::spoolhost
