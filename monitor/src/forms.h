// The two dialogs as terminal forms (POSIX): their fields, the filters and
// limits of the controls, and prepared answers (see quor/prepared_answers.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "telvor_common/text.h"

namespace quor {

struct FormField {
  int id;
  const char16_t* label;
  std::size_t limit;  // characters the control takes
  bool digits_only;
  bool hidden;  // the password field
};

struct Form {
  const char16_t* caption;
  const FormField* fields;
  std::size_t field_count;
  const char16_t* confirm;  // the default button's text
  const char* answer_variable;
};

// The fields in tab order; the texts vector of a form has one text each.
extern const Form kSetupForm;
extern const Form kFaxNumberForm;

// The position of the field with control id `id` (the form has it).
std::size_t FieldIndex(const Form& form, int id);

// What the control keeps of typed text: characters it refuses are dropped
// and the rest is cut at its limit.
telvor::Text FilterInput(const FormField& field, telvor::TextView typed);

// Applies a prepared answer to `texts` (holding the initial texts). Returns
// false when the answer cancels the form.
bool ApplyAnswer(const Form& form, std::string_view answer, std::vector<telvor::Text>& texts);

// The form's caption and each field with its text (hidden ones masked),
// then the button pressed, one per line.
std::string DescribeForm(const Form& form, const std::vector<telvor::Text>& texts);
std::string DescribeCancel(const Form& form);

}  // namespace quor
