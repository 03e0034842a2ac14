#include "backend.h"

#include <cctype>

#include "quor/fax_number.h"
#include "quor/forms.h"
#include "telvor/sendfax.h"
#include "telvor_common/win_errors.h"

namespace telvor::spoolhost::cups {
namespace {

constexpr char kFaxNumberOption[] = "fax-number";
constexpr char kPhoneOption[] = "phone";  // the option of CUPS's own fax queues
constexpr char kPpdFaxNumberOption[] = "FaxNumber";
constexpr char kCustomPrefix[] = "Custom.";
constexpr char kAttemptsOption[] = "fax-attempts";
constexpr char kNoteOption[] = "note";
constexpr const char* kPaperOptions[] = {"PageSize", "PageRegion", "media"};
constexpr char kLetter[] = "letter";
constexpr char kIppLetter[] = "na_letter";  // na_letter_8.5x11in
constexpr char kResolutionOption[] = "Resolution";
constexpr char kNormalResolution[] = "204x98dpi";
constexpr char kFineResolution[] = "204x196dpi";
constexpr std::uint32_t kNormalLines = 98;
constexpr std::uint32_t kFineLines = 196;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

const std::string* Find(const JobOptions& options, std::string_view name) {
  for (const auto& [key, value] : options) {
    if (key == name) return &value;
  }
  return nullptr;
}

// A form field is one line: control characters never reach it.
std::string OneLine(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  }
  return out;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A name CUPS made of a fragment of a number split at its blanks.
bool IsNumberFragment(const std::string& name, const std::string& value) {
  if (value != "true" || name.empty()) return false;
  for (const char c : name) {
    if (!quor::IsFaxNumberCharacter(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "Letter", "letter,tray1", "na_letter_8.5x11in".
bool NamesLetter(std::string_view value) {
  const std::string_view first = value.substr(0, value.find(','));
  return (first.size() == sizeof kLetter - 1 && StartsWithNoCase(first, kLetter)) ||
         StartsWithNoCase(first, kIppLetter);
}

Verdict Hold(const std::string& why, const std::string& job_id, const std::string& how) {
  return {kBackendHold,
          "ERROR: " + why + " Give it again with: lp -i " + job_id + " " + how + " -H resume"};
}

}  // namespace

JobOptions ParseJobOptions(std::string_view text) {
  JobOptions options;
  std::size_t pos = 0;
  for (;;) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos >= text.size()) break;
    const std::size_t name_start = pos;
    while (pos < text.size() && text[pos] != '=' && !IsBlank(text[pos])) ++pos;
    std::string name(text.substr(name_start, pos - name_start));
    if (pos >= text.size() || text[pos] != '=') {
      if (StartsWithNoCase(name, "no") && name.size() > 2) {
        options.emplace_back(name.substr(2), "false");
      } else {
        options.emplace_back(name, "true");
      }
      continue;
    }
    ++pos;  // '='
    std::string value;
    int depth = 0;  // inside a {collection}, kept as written
    while (pos < text.size() && (depth > 0 || !IsBlank(text[pos]))) {
      const char c = text[pos];
      if (c == '\\' && pos + 1 < text.size()) {
        value += text[pos + 1];
        pos += 2;
      } else if ((c == '\'' || c == '"') && depth == 0) {
        for (++pos; pos < text.size() && text[pos] != c; ++pos) {
          if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
          value += text[pos];
        }
        ++pos;  // the closing quote
      } else {
        if (c == '{') ++depth;
        if (c == '}' && depth > 0) --depth;
        value += c;
        ++pos;
      }
    }
    if (!name.empty()) options.emplace_back(std::move(name), std::move(value));
  }
  return options;
}

bool StorePathOfUri(std::string_view uri, std::string* path, std::string* error) {
  const std::string scheme = std::string(kScheme) + ":";
  const std::string usage = "the device URI names the key store: " + scheme + "/ (" + kCupsStore +
                            ") or " + scheme + "/path/to/store.reg";
  if (uri.substr(0, scheme.size()) != scheme) {
    *error = "not a " + scheme + " URI: " + std::string(uri) + "; " + usage;
    return false;
  }
  std::string_view rest = uri.substr(scheme.size());
  if (rest.empty() || rest == "/") {
    *path = kCupsStore;
    return true;
  }
  if (rest[0] != '/' || rest.substr(0, 2) == "//" || rest.back() == '/' ||
      rest.find_first_of("?#") != std::string_view::npos) {
    *error = usage;
    return false;
  }
  std::string decoded;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      decoded += rest[i];
      continue;
    }
    const int high = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
    const int low = i + 2 < rest.size() ? HexValue(rest[i + 2]) : -1;
    if (high < 0 || low < 0 || (high == 0 && low == 0)) {
      *error = usage;
      return false;
    }
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  *path = decoded;
  return true;
}

JobAnswers AnswersOf(const JobOptions& options, const std::string& title) {
  JobAnswers answers;
  if (const std::string* number = Find(options, kFaxNumberOption)) {
    answers.fax_number = *number;
  } else if (const std::string* phone = Find(options, kPhoneOption)) {
    answers.fax_number = *phone;
  } else if (const std::string* custom = Find(options, kPpdFaxNumberOption)) {
    // The dialog's text field; its one fixed choice means "none given".
    if (StartsWithNoCase(*custom, kCustomPrefix)) {
      answers.fax_number = custom->substr(sizeof kCustomPrefix - 1);
    }
  }
  answers.fax_number = OneLine(answers.fax_number);
  if (const std::string* attempts = Find(options, kAttemptsOption)) {
    answers.attempts = OneLine(*attempts);
  }
  const std::string* note = Find(options, kNoteOption);
  answers.note = OneLine(note ? *note : title);
  for (const auto& [name, value] : options) {
    if (IsNumberFragment(name, value)) answers.stray.push_back(name);
  }
  for (const char* paper : kPaperOptions) {
    if (const std::string* value = Find(options, paper)) answers.letter = NamesLetter(*value);
    if (answers.letter) break;
  }
  if (const std::string* resolution = Find(options, kResolutionOption)) {
    if (*resolution == kNormalResolution) answers.vertical_resolution = kNormalLines;
    if (*resolution == kFineResolution) answers.vertical_resolution = kFineLines;
  }
  return answers;
}

std::optional<Verdict> RefusedAnswers(const JobAnswers& answers, const std::string& job_id) {
  if (!answers.stray.empty()) {
    // CUPS keeps no order among the pieces: they are named, not joined.
    std::string pieces;
    for (const std::string& piece : answers.stray)
      pieces += (pieces.empty() ? "" : ", ") + Quoted(piece);
    return Hold("The fax number was split at its blanks: " + Quoted(answers.fax_number) +
                    " came with " + pieces + " apart; quote it whole.",
                job_id, "-o \"" + std::string(kFaxNumberOption) + "='NUMBER WITH BLANKS'\"");
  }
  Text dial;
  const Text typed = FromUtf8(answers.fax_number);
  const quor::NumberFault fault = quor::ReadFaxNumber(typed, &dial);
  if (fault != quor::NumberFault::kNone) {
    return Hold(ToUtf8(quor::NumberFaultText(fault, typed)), job_id,
                "-o " + std::string(kFaxNumberOption) + "=NUMBER");
  }
  int attempts = 0;
  if (answers.attempts && !quor::ReadAttempts(FromUtf8(*answers.attempts), &attempts)) {
    return Hold(ToUtf8(quor::AttemptsFaultText(FromUtf8(*answers.attempts))), job_id,
                "-o " + std::string(kAttemptsOption) + "=DIGIT");
  }
  return std::nullopt;
}

FormAnswer JobUser::AskForm(const Form& form, FormTexts& texts, std::uint32_t* error) {
  if (&form != &kFaxNumberForm) {
    // The settings come from the administrator's command, never from a job.
    *error = win_error::kNotSupported;
    return FormAnswer::kFailed;
  }
  asked_ = true;
  if (answering_) answering_();
  texts[FieldIndex(form, QUOR_ID_FAX_NUMBER)] = FromUtf8(answers_.fax_number);
  if (answers_.attempts) texts[FieldIndex(form, QUOR_ID_ATTEMPTS)] = FromUtf8(*answers_.attempts);
  texts[FieldIndex(form, QUOR_ID_INFO)] = FromUtf8(answers_.note);
  return FormAnswer::kOk;
}

void JobUser::ShowMessage(const std::string& caption, const std::string& text) {
  std::string line = caption + ": " + text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // INFO, so that the job's closing ERROR line, which says what becomes of
  // the job, is the message CUPS keeps (it keeps the first ERROR line).
  last_message_ = line;
  say_("INFO: " + line);
}

std::vector<std::string> ChangedAnswers(const JobAnswers& answers) {
  std::vector<std::string> changed;
  const Form& form = kFaxNumberForm;
  const auto check = [&](const char* what, const std::string& given, const std::string& taken) {
    if (taken != given) {
      changed.push_back(std::string("INFO: ") + what + " " + Quoted(given) + " taken as " +
                        Quoted(taken));
    }
  };
  Text dial;
  quor::ReadFaxNumber(FromUtf8(answers.fax_number), &dial);
  check("fax number", answers.fax_number, ToUtf8(dial));
  check("note", answers.note,
        ToUtf8(FilterInput(form.fields[FieldIndex(form, QUOR_ID_INFO)], FromUtf8(answers.note))));
  return changed;
}

bool KeepLogRequested(const char* value) {
  return value && *value && std::string_view(value) != "0";
}

std::string SetupAdvice(const std::string& store_path, const std::string& queue) {
  std::string command = kSetupCommand;
  if (store_path != kCupsStore) command += " --registry " + store_path;
  return "as root, run: " + command + ", then: cupsenable " + queue;
}

Verdict VerdictOf(const HostOutcome& outcome, const std::string& last_message,
                  const std::string& job_id, const std::string& setup_advice) {
  const std::string why = !last_message.empty()    ? last_message
                          : !outcome.error.empty() ? outcome.error
                                                   : "the monitor reported no fax sent";
  if (!outcome.monitor_ready) return {kBackendStop, "ERROR: " + outcome.error};
  const JobNews& news = outcome.news;
  if (news.state == QUOR_JOB_SENT) {
    return {kBackendOk, "INFO: Fax handed to the HylaFAX server" +
                            (news.server_job == 0 ? std::string()
                                                  : " as job " + std::to_string(news.server_job))};
  }
  const std::string held = " - fax not sent, job held; ";
  switch (outcome.job) {
    case JobResult::kNotWritten:
      return {kBackendFailed, "ERROR: " + why};
    case JobResult::kPortNotOpened:
    case JobResult::kNotStarted:
      // The port cannot be used at all: every job would fail alike.
      return {kBackendStop, "ERROR: " + why};
    default:
      break;
  }
  switch (news.state == QUOR_JOB_NOT_SENT ? news.send_fax_result : 0) {
    case TELVOR_ERR_LOG:
    case TELVOR_ERR_SOCKETS:
    case TELVOR_ERR_CONTROL_SOCKET:
    case TELVOR_ERR_CONNECT:
      // Nothing reached the server: trying again later cannot send it twice.
      return {kBackendRetry,
              "ERROR: " + why + " - the fax server cannot be reached; CUPS tries again later"};
    case TELVOR_ERR_LOGIN:
      // Every job would be refused alike; the job waits for the mended settings.
      return {kBackendStop,
              "ERROR: " + why + " - the server refused the user or password; " + setup_advice};
    case TELVOR_ERR_FILE_OPEN:
    case TELVOR_ERR_FILE_READ:
    case TELVOR_ERR_NOT_POSTSCRIPT:
      return {kBackendHold, "ERROR: " + why + held +
                                "the server cannot take this document: print it again, "
                                "and remove this job with: cancel " +
                                job_id};
    default:
      // Held, not retried: a fax that failed late may already be queued on
      // the server, and what else fails is mended by a person, who then
      // releases the job.
      return {kBackendHold,
              "ERROR: " + why + held + "send it again with: lp -i " + job_id + " -H resume"};
  }
}

}  // namespace telvor::spoolhost::cups
