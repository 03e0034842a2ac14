// libFuzzer target: answers from the prompt program, which runs as the
// person who printed. An answer taken must hold every text within its field.
#include <cstddef>
#include <cstdint>

#include "prompt_channel.h"
#include "widths.h"

namespace {

template <std::size_t N>
void ExpectEnds(const char16_t (&field)[N], std::size_t limit = N - 1) {
  for (std::size_t i = 0; i <= limit; ++i) {
    if (field[i] == 0) return;
  }
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quor::DialogResult result = quor::DialogResult::kFailed;
  std::uint32_t error = 0;
  quor::SetupFields setup{};
  if (quor::DecodePrompt(data, size, quor::DialogKind::kSetup, &result, &error, &setup) &&
      result == quor::DialogResult::kOk) {
    ExpectEnds(setup.server_ip);
    ExpectEnds(setup.user);
    ExpectEnds(setup.password);
    ExpectEnds(setup.mail);
    ExpectEnds(setup.attempts);
    ExpectEnds(setup.modem);
  }
  quor::FaxNumberFields number{};
  if (quor::DecodePrompt(data, size, quor::DialogKind::kFaxNumber, &result, &error, &number) &&
      result == quor::DialogResult::kOk) {
    ExpectEnds(number.fax_number, quor::kFaxNumberLimit);
    ExpectEnds(number.attempts);
    ExpectEnds(number.info);
  }
  return 0;
}
