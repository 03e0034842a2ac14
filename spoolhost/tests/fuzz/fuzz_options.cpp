// libFuzzer target: the job options any CUPS client can set, as the backend
// reads them. Whatever they hold, the fax-number form gets one line per field
// and the controls' limits hold.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "backend.h"

namespace cups = telvor::spoolhost::cups;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const cups::JobAnswers answers = cups::AnswersOf(cups::ParseJobOptions(text), std::string(text));
  for (const std::string* field : {&answers.fax_number, &answers.note}) {
    if (field->find_first_of("\r\n") != std::string::npos) __builtin_trap();
  }
  if (answers.attempts && answers.attempts->find('\n') != std::string::npos) __builtin_trap();
  cups::JobUser user(answers, [](const std::string&) {});
  telvor::spoolhost::FormTexts texts(telvor::spoolhost::kFaxNumberForm.field_count);
  std::uint32_t error = 0;
  user.AskForm(telvor::spoolhost::kFaxNumberForm, texts, &error);
  cups::ChangedAnswers(answers);
  std::string path;
  std::string reason;
  cups::StorePathOfUri(text, &path, &reason);
  return 0;
}
