#include "forms.h"

#include <iterator>

#include "quor/fax_number.h"
#include "quor/forms.h"

namespace telvor::spoolhost {

namespace {

constexpr FormField kSetupFields[] = {
    {QUOR_ID_SERVER_IP, u"" QUOR_SERVER_IP_TEXT, QUOR_TEXT_LIMIT, FieldKind::kText, false},
    {QUOR_ID_USER, u"" QUOR_USER_TEXT, QUOR_TEXT_LIMIT, FieldKind::kText, false},
    {QUOR_ID_PASSWORD, u"" QUOR_PASSWORD_TEXT, QUOR_TEXT_LIMIT, FieldKind::kText, true},
    {QUOR_ID_MAIL, u"" QUOR_MAIL_TEXT, QUOR_TEXT_LIMIT, FieldKind::kText, false},
    {QUOR_ID_DEFAULT_ATTEMPTS, u"" QUOR_DEFAULT_ATTEMPTS_TEXT, QUOR_ATTEMPTS_LIMIT,
     FieldKind::kAttempts, false},
    {QUOR_ID_MODEM, u"" QUOR_MODEM_TEXT, QUOR_TEXT_LIMIT, FieldKind::kModem, false},
};

constexpr FormField kFaxNumberFields[] = {
    {QUOR_ID_FAX_NUMBER, u"" QUOR_FAX_NUMBER_TEXT, QUOR_FAX_NUMBER_LIMIT, FieldKind::kFaxNumber,
     false},
    {QUOR_ID_ATTEMPTS, u"" QUOR_ATTEMPTS_TEXT, QUOR_ATTEMPTS_LIMIT, FieldKind::kAttempts, false},
    {QUOR_ID_INFO, u"" QUOR_INFO_TEXT, QUOR_TEXT_LIMIT, FieldKind::kText, false},
};

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

const Form kSetupForm = {u"" QUOR_SETUP_CAPTION, kSetupFields, std::size(kSetupFields),
                         u"" QUOR_OK_TEXT};
const Form kFaxNumberForm = {u"" QUOR_FAX_NUMBER_CAPTION, kFaxNumberFields,
                             std::size(kFaxNumberFields), u"" QUOR_SEND_FAX_TEXT};

std::size_t FieldIndex(const Form& form, int id) {
  std::size_t index = 0;
  while (index + 1 < form.field_count && form.fields[index].id != id) ++index;
  return index;
}

Text FilterInput(const FormField& field, TextView typed) {
  Text kept;
  for (char16_t unit : typed) {
    if (kept.size() == field.limit) break;
    // A single-line control takes no control characters: Tab and Enter move
    // on or confirm.
    if (unit < u' ' || unit == 0x7F) continue;
    if (field.kind == FieldKind::kAttempts && (unit < u'0' || unit > u'9')) continue;
    if (field.kind == FieldKind::kFaxNumber && !quor::IsFaxNumberCharacter(unit)) continue;
    kept.push_back(unit);
  }
  // A character is not split in two at the limit.
  if (kept.size() == field.limit && !kept.empty() && IsHighSurrogate(kept.back())) kept.pop_back();
  return kept;
}

Text FieldFault(const FormField& field, TextView text) {
  if (field.kind == FieldKind::kFaxNumber) {
    Text dial;
    const quor::NumberFault fault = quor::ReadFaxNumber(text, &dial);
    if (fault != quor::NumberFault::kNone) return quor::NumberFaultText(fault, text);
  }
  int attempts = 0;
  if (field.kind == FieldKind::kAttempts && !quor::ReadAttempts(text, &attempts)) {
    return quor::AttemptsFaultText(text);
  }
  if (field.kind == FieldKind::kModem && !quor::ModemNameTaken(text)) {
    return quor::ModemFaultText(text);
  }
  return Text();
}

}  // namespace telvor::spoolhost
