// The monitor's two forms as the Linux hosts show and answer them: their
// fields in tab order and the rules of each field's control, which typed and
// given answers alike go through.
#pragma once

#include <cstddef>
#include <vector>

#include "telvor_common/text.h"

namespace telvor::spoolhost {

// What a field takes: any text, dial attempts (one digit from 1 to 9), or a
// fax number (quor/fax_number.h).
enum class FieldKind { kText, kAttempts, kFaxNumber, kModem };

struct FormField {
  int id;
  const char16_t* label;
  std::size_t limit;  // characters the control takes
  FieldKind kind;
  bool hidden;  // the password field
};

struct Form {
  const char16_t* caption;
  const FormField* fields;
  std::size_t field_count;
  const char16_t* confirm;  // the default button's text
};

// A form's texts: one per field, in the form's order.
using FormTexts = std::vector<Text>;

extern const Form kSetupForm;
extern const Form kFaxNumberForm;

// The position of the field with control id `id` (the form has it).
std::size_t FieldIndex(const Form& form, int id);

// What the control keeps of typed text: characters it refuses are dropped
// and the rest is cut at its limit.
Text FilterInput(const FormField& field, TextView typed);

// Why the field cannot be confirmed with `text` (a number or attempts the
// rule refuses), or "" when it can.
Text FieldFault(const FormField& field, TextView text);

// How a host answered a form.
enum class FormAnswer { kOk, kCancel, kFailed };

}  // namespace telvor::spoolhost
