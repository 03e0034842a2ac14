#include "forms.h"

#include <iterator>

#include "quor/prepared_answers.h"
#include "resource.h"
#include "widths.h"

namespace quor {

namespace {

constexpr FormField kSetupFields[] = {
    {QUOR_ID_SERVER_IP, u"" QUOR_SERVER_IP_TEXT, kTextLimit, false, false},
    {QUOR_ID_USER, u"" QUOR_USER_TEXT, kTextLimit, false, false},
    {QUOR_ID_PASSWORD, u"" QUOR_PASSWORD_TEXT, kTextLimit, false, true},
    {QUOR_ID_MAIL, u"" QUOR_MAIL_TEXT, kTextLimit, false, false},
    {QUOR_ID_DEFAULT_ATTEMPTS, u"" QUOR_DEFAULT_ATTEMPTS_TEXT, kAttemptsLimit, true, false},
};

constexpr FormField kFaxNumberFields[] = {
    {QUOR_ID_FAX_NUMBER, u"" QUOR_FAX_NUMBER_TEXT, kFaxNumberLimit, true, false},
    {QUOR_ID_ATTEMPTS, u"" QUOR_ATTEMPTS_TEXT, kAttemptsLimit, true, false},
    {QUOR_ID_INFO, u"" QUOR_INFO_TEXT, kTextLimit, false, false},
};

constexpr char16_t kMask = u'*';
constexpr char kIndent[] = "  ";

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// The number in a line's "ID=" part, or -1.
int ParseId(std::string_view text) {
  if (text.empty() || text.size() > 6) return -1;
  int id = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    id = id * 10 + (c - '0');
  }
  return id;
}

}  // namespace

const Form kSetupForm = {u"" QUOR_SETUP_CAPTION, kSetupFields, std::size(kSetupFields),
                         u"" QUOR_OK_TEXT, kSetupAnswerVariable};
const Form kFaxNumberForm = {u"" QUOR_FAX_NUMBER_CAPTION, kFaxNumberFields,
                             std::size(kFaxNumberFields), u"" QUOR_SEND_FAX_TEXT,
                             kFaxNumberAnswerVariable};

std::size_t FieldIndex(const Form& form, int id) {
  std::size_t index = 0;
  while (index + 1 < form.field_count && form.fields[index].id != id) ++index;
  return index;
}

telvor::Text FilterInput(const FormField& field, telvor::TextView typed) {
  telvor::Text kept;
  for (char16_t unit : typed) {
    if (kept.size() == field.limit) break;
    // A single-line control takes no control characters: Tab and Enter move
    // on or confirm.
    if (unit < u' ' || unit == 0x7F) continue;
    if (field.digits_only && (unit < u'0' || unit > u'9')) continue;
    kept.push_back(unit);
  }
  // A character is not split in two at the limit.
  if (kept.size() == field.limit && !kept.empty() && IsHighSurrogate(kept.back())) kept.pop_back();
  return kept;
}

bool ApplyAnswer(const Form& form, std::string_view answer, std::vector<telvor::Text>& texts) {
  if (answer == kCancelAnswer) return false;
  while (!answer.empty()) {
    const std::size_t end = answer.find('\n');
    std::string_view line = answer.substr(0, end);
    answer = end == std::string_view::npos ? std::string_view() : answer.substr(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const int id = ParseId(line.substr(0, equals));
    for (std::size_t i = 0; i < form.field_count; ++i) {
      if (form.fields[i].id == id) {
        texts[i] = FilterInput(form.fields[i], telvor::FromUtf8(line.substr(equals + 1)));
      }
    }
  }
  return true;
}

std::string DescribeForm(const Form& form, const std::vector<telvor::Text>& texts) {
  std::string out = telvor::ToUtf8(form.caption) + "\n";
  for (std::size_t i = 0; i < form.field_count; ++i) {
    const FormField& field = form.fields[i];
    const telvor::Text shown = field.hidden ? telvor::Text(texts[i].size(), kMask) : texts[i];
    out += kIndent + telvor::ToUtf8(field.label) + ": " + telvor::ToUtf8(shown) + "\n";
  }
  out += kIndent + ("[" + telvor::ToUtf8(form.confirm) + "]\n");
  return out;
}

std::string DescribeCancel(const Form& form) {
  return telvor::ToUtf8(form.caption) + "\n" + kIndent + "[" + kCancelAnswer + "]\n";
}

}  // namespace quor
