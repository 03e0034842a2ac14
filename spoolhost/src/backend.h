// The CUPS backend "telvor": what it makes of the job CUPS hands it (the
// options, the device URI), how it answers the monitor's forms and shows its
// messages, and the exit code CUPS acts on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host.h"

namespace telvor::spoolhost::cups {

// Exit codes CUPS gives meaning to.
constexpr int kBackendOk = 0;      // the job is completed
constexpr int kBackendFailed = 1;  // the queue's error policy decides
constexpr int kBackendHold = 3;    // the job is held, the queue goes on
constexpr int kBackendStop = 4;    // the queue is stopped, the job kept
constexpr int kBackendRetry = 6;   // the job is tried again after JobRetryInterval

constexpr char kScheme[] = "telvor";
// What `lpinfo -v` lists: class, URI scheme, make and model, description.
constexpr char kDeviceLine[] =
    "direct telvor \"Telvor Printer\" \"Telvor Printer (fax through a HylaFAX server)\"\n";
// What the administrator runs to write the server settings into the store.
constexpr char kSetupCommand[] = "telvor-spool --cups-setup";
// Set in cups-files.conf (SetEnv TELVOR_KEEP_LOG 1): the job's folder with
// "telvor.log" is kept, not removed when the job is done.
constexpr char kKeepLogVariable[] = "TELVOR_KEEP_LOG";

using JobOptions = std::vector<std::pair<std::string, std::string>>;

// The exit code and the last status line for a job's outcome.
struct Verdict {
  int exit_code;
  std::string line;
};

// The job's options as CUPS writes them into one argument: name=value pairs
// between blanks, values quoted with ' or " or escaped with \, a name alone
// meaning "true" ("noname": "false").
JobOptions ParseJobOptions(std::string_view text);

// The key store a device URI names: "telvor:/" (or "telvor:") the default,
// "telvor:/path/file.reg" that file (%XX escapes decoded). False with a
// reason for anything else.
bool StorePathOfUri(std::string_view uri, std::string* path, std::string* error);

// What the fax-number form is answered with.
struct JobAnswers {
  std::string fax_number;  // empty: the job names none
  std::optional<std::string> attempts;
  std::string note;
  // Options CUPS split off an unquoted number at its blanks ("555", "1234"
  // of "fax-number=0 555 1234").
  std::vector<std::string> stray;
  // The paper: Letter, else A4; the resolution, 98 or 196 (0: 196).
  bool letter = false;
  std::uint32_t vertical_resolution = 0;
};

// The number from "fax-number", else "phone", else the PPD's "FaxNumber"
// (its custom value "Custom.N"); the attempts from "fax-attempts"; the note
// from "note", else the job's title. Control characters are dropped, as the
// form drops them from typed text. The paper from "PageSize", "PageRegion" or
// "media"; the resolution from the PPD's "Resolution".
JobAnswers AnswersOf(const JobOptions& options, const std::string& title);

// The job held, with why and how to give it again, when its number or
// attempts are refused (quor/fax_number.h) or CUPS split the number; nothing
// when they can be sent.
std::optional<Verdict> RefusedAnswers(const JobAnswers& answers, const std::string& job_id);

// The job's person, for the monitor: the fax-number form is answered from the
// job's options; there is nobody to ask for the settings. Each message box
// becomes an "INFO:" line (the job's and the printer's state message, until
// the job's closing line).
class JobUser : public HostUser {
 public:
  using Say = void (*)(const std::string& line);
  // `answering` is called as the fax-number form is answered: right after it
  // the monitor may hand the fax to the server.
  JobUser(JobAnswers answers, Say say, std::function<void()> answering = {})
      : answers_(std::move(answers)), say_(say), answering_(std::move(answering)) {}

  FormAnswer AskForm(const Form& form, FormTexts& texts, std::uint32_t* error) override;
  void ShowMessage(const std::string& caption, const std::string& text) override;

  // The last message box as "caption: text", "" when there was none.
  const std::string& last_message() const { return last_message_; }
  // Whether the fax-number form was answered.
  bool asked() const { return asked_; }

 private:
  JobAnswers answers_;
  Say say_;
  std::function<void()> answering_;
  std::string last_message_;
  bool asked_ = false;
};

// One "INFO:" line per answer not sent as given: the number as it is
// dialled (its separators dropped), a note cut to the form's field.
std::vector<std::string> ChangedAnswers(const JobAnswers& answers);

// Whether the job's folder with "telvor.log" is kept, by the value of
// TELVOR_KEEP_LOG (null when unset): any text but "" and "0".
bool KeepLogRequested(const char* value);

// What the administrator is told to do for a queue whose settings are
// missing or refused: the settings command for its store, then cupsenable.
std::string SetupAdvice(const std::string& store_path, const std::string& queue);

// Completed only when the monitor reported the fax sent. A fax that never
// reached the server is tried again by CUPS later; a refused login stops the
// queue with `setup_advice`; a document the server can never take, and
// anything that failed once the upload may have begun, holds the job.
// `last_message` is the monitor's last message box, if any.
Verdict VerdictOf(const HostOutcome& outcome, const std::string& last_message,
                  const std::string& job_id, const std::string& setup_advice);

}  // namespace telvor::spoolhost::cups
