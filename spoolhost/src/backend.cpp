#include "backend.h"

#include <cctype>

#include "quor/forms.h"
#include "telvor_common/win_errors.h"

namespace telvor::spoolhost::cups {
namespace {

constexpr char kFaxNumberOption[] = "fax-number";
constexpr char kPhoneOption[] = "phone";  // the option of CUPS's own fax queues
constexpr char kPpdFaxNumberOption[] = "FaxNumber";
constexpr char kCustomPrefix[] = "Custom.";
constexpr char kAttemptsOption[] = "fax-attempts";
constexpr char kNoteOption[] = "note";

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
  return answers;
}

bool HasDialableNumber(const std::string& fax_number) {
  for (const char c : fax_number) {
    if (c >= '0' && c <= '9') return true;
  }
  return false;
}

FormAnswer JobUser::AskForm(const Form& form, FormTexts& texts, std::uint32_t* error) {
  if (&form != &kFaxNumberForm) {
    // The settings come from the administrator's command, never from a job.
    *error = win_error::kNotSupported;
    return FormAnswer::kFailed;
  }
  asked_ = true;
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
  const auto check = [&](const char* what, const std::string& given, int id) {
    const std::string taken =
        ToUtf8(FilterInput(form.fields[FieldIndex(form, id)], FromUtf8(given)));
    if (taken != given) {
      changed.push_back(std::string("INFO: ") + what + " " + Quoted(given) + " taken as " +
                        Quoted(taken));
    }
  };
  check("fax number", answers.fax_number, QUOR_ID_FAX_NUMBER);
  if (answers.attempts) check("attempts", *answers.attempts, QUOR_ID_ATTEMPTS);
  check("note", answers.note, QUOR_ID_INFO);
  return changed;
}

bool KeepLogRequested(const char* value) {
  return value && *value && std::string_view(value) != "0";
}

Verdict VerdictOf(const HostOutcome& outcome, const std::string& last_message,
                  const std::string& job_id) {
  const std::string why = last_message.empty() ? outcome.error : last_message;
  if (!outcome.monitor_ready) return {kBackendStop, "ERROR: " + outcome.error};
  switch (outcome.job) {
    case JobResult::kHandedOver:
      return {kBackendOk, "INFO: Fax handed to the HylaFAX server"};
    case JobResult::kNotSent:
      // Held, not retried: a fax that failed late may already be queued on
      // the server, and a wrong password or an unreachable server is mended
      // by a person, who then releases the job.
      return {kBackendHold, "ERROR: " + why +
                                " - fax not sent, job held; send it again with: lp -i " + job_id +
                                " -H resume"};
    case JobResult::kNotWritten:
      return {kBackendFailed, "ERROR: " + why};
    default:
      // The port cannot be used at all: every job would fail alike.
      return {kBackendStop, "ERROR: " + why};
  }
}

Verdict HoldForNumber(const std::string& job_id) {
  return {kBackendHold, "ERROR: No fax number given; give one with: lp -i " + job_id +
                            " -o fax-number=NUMBER -H resume"};
}

}  // namespace telvor::spoolhost::cups
