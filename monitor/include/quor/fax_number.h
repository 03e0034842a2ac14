// The one rule for what a person may give as a fax number and as dial
// attempts: the monitor applies it to every number it sends, and every host
// that takes a number (the dialog, the terminal forms, the CUPS options,
// telvor-spool's command line) refuses by it what the monitor would refuse.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "quor/forms.h"

namespace quor {

// A number is typed with at most this many characters and dials at most
// this many digits: an international number with an outside-line prefix and
// an extension fits with room to spare.
inline constexpr std::size_t kFaxNumberTypedLimit = QUOR_FAX_NUMBER_LIMIT;
inline constexpr std::size_t kFaxNumberDigitLimit = 30;

enum class NumberFault { kNone, kEmpty, kNoDigit, kCharacter, kPlus, kTooLong };

// Whether `c` may be typed into a number: a digit, "+", or one of the
// separators blank, "-", "(", ")", "/" and ".".
bool IsFaxNumberCharacter(char16_t c);

// Reads `typed` as people copy a number from a letterhead: digits, at most
// one "+" before the first digit, the separators anywhere. kNone: `*dial`
// gets the digits with the "+" kept and the separators dropped. Anything
// else is refused, never cut: `*dial` is then empty.
NumberFault ReadFaxNumber(std::u16string_view typed, std::u16string* dial);

// Why `typed` was refused, in a sentence for the person.
std::u16string NumberFaultText(NumberFault fault, std::u16string_view typed);

// Dial attempts: one digit from 1 to 9. Anything else is refused, never
// clamped: false.
bool ReadAttempts(std::u16string_view typed, int* attempts);
std::u16string AttemptsFaultText(std::u16string_view typed);

// The server's modem: a name without blanks or control characters (empty:
// the client's own, "ttyS0"), as the client takes it into its job line.
bool ModemNameTaken(std::u16string_view typed);
std::u16string ModemFaultText(std::u16string_view typed);

}  // namespace quor
