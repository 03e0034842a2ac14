// libFuzzer target: prepared answers for both forms. Every text that comes
// out must respect its control's limit, whatever the answer held.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "forms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const quor::Form& form = data[0] % 2 == 0 ? quor::kSetupForm : quor::kFaxNumberForm;
  const std::string_view answer(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<telvor::Text> texts(form.field_count);
  if (!quor::ApplyAnswer(form, answer, texts)) return 0;
  for (std::size_t i = 0; i < form.field_count; ++i) {
    if (texts[i].size() > form.fields[i].limit) __builtin_trap();
  }
  quor::DescribeForm(form, texts);
  return 0;
}
