#include "temp_name.h"

namespace quor {

namespace {
constexpr std::size_t kPrefixChars = 3;
constexpr char16_t kExtension[] = u".tmp";
constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
}  // namespace

telvor::Text TempName(telvor::TextView directory, telvor::TextView prefix, std::uint32_t number) {
  telvor::Text digits;
  do {
    digits.insert(digits.begin(), kHexDigits[number % 16]);
    number /= 16;
  } while (number != 0);
  telvor::Text name(directory);
  name.append(prefix.substr(0, kPrefixChars));
  name.append(digits);
  name.append(kExtension);
  return name;
}

}  // namespace quor
