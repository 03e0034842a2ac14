// What the tests read of Debian's real HylaFAX server (the hylafax_server
// fixture on 127.0.3.1): whether it answers, and its queue files.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace telvor::hylafax {

inline constexpr char kAddress[] = "127.0.3.1";
inline constexpr char kSpool[] = "/var/spool/hylafax";
// How long a test waits for its job's queue file to read whole: a bound for
// a failure, never a pause in a good run.
inline constexpr std::chrono::seconds kQueueWait{30};

// The strict server (fixture hylafax_strict_server): it lets in only
// kStrictUser with kStrictPassword and has no modem registered, so that its
// scheduler refuses every submission.
inline constexpr char kStrictAddress[] = TELVOR_HYLAFAX_STRICT_ADDRESS;
inline constexpr char kStrictUser[] = TELVOR_HYLAFAX_STRICT_USER;
inline constexpr char kStrictPassword[] = TELVOR_HYLAFAX_STRICT_PASSWORD;

// Empty when the server answers on `address` port 4559; otherwise why not.
// A test skips with that reason, or fails with it when CI=true.
std::string Unavailable(const char* address = kAddress);

// A job's queue file as read whole.
struct QueueRecord {
  std::filesystem::path file;  // sendq/qN or doneq/qN, relative to the spool
  std::string text;
  std::map<std::string, std::string> fields;  // "key:value" lines; the first of each key counts
  std::string document;  // the PostScript file the record names (docq/...), read
};

// Finds the queue file of the job whose job info ("jobtag") is `tag`.
//
// The server changes these files under a reader: hfaxd creates sendq/qN
// empty and fills it in place; faxq rewrites it in place (write from the
// start, then truncate) at each step of the job, renames it to doneq/qN when
// the job ends and only then writes its last state, and renames the document
// when it prepares the job (docq/docN.ps.N becomes docq/docN.ps). A single
// read can therefore see no file, a cut or mixed file, or a record naming a
// document that has just moved. So a record counts only when it ends in a
// whole line, holds the needed fields, its document reads, and two looks in
// a row read exactly the same; anything else is "not yet".
class QueueReader {
 public:
  explicit QueueReader(std::string tag, std::vector<std::string> needed = {},
                       std::filesystem::path spool = kSpool);

  // One look at sendq and doneq (the newest qN of the tag counts).
  std::optional<QueueRecord> Poll();
  // Looks again until a record counts or `wait` has passed.
  std::optional<QueueRecord> Wait(std::chrono::milliseconds wait = kQueueWait);
  // What the last look found, for a failure message.
  const std::string& Seen() const { return seen_; }

 private:
  std::string tag_;
  std::vector<std::string> needed_;
  std::filesystem::path spool_;
  std::optional<QueueRecord> last_;
  std::string seen_;
};

}  // namespace telvor::hylafax
