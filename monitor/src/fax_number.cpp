#include "quor/fax_number.h"

namespace quor {
namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsSeparator(char16_t c) {
  return c == u' ' || c == u'-' || c == u'(' || c == u')' || c == u'/' || c == u'.';
}

std::u16string Quoted(std::u16string_view text) { return u"\"" + std::u16string(text) + u"\""; }

std::u16string Decimal(std::size_t value) {
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return text;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

bool IsFaxNumberCharacter(char16_t c) { return IsDigit(c) || IsSeparator(c) || c == u'+'; }

NumberFault ReadFaxNumber(std::u16string_view typed, std::u16string* dial) {
  dial->clear();
  std::u16string digits;
  bool plus = false;
  NumberFault fault = NumberFault::kNone;
  for (const char16_t c : typed) {
    if (IsDigit(c)) {
      digits.push_back(c);
    } else if (c == u'+') {
      // Only before the first digit, and only once.
      if (plus || !digits.empty()) fault = NumberFault::kPlus;
      plus = true;
    } else if (!IsSeparator(c)) {
      return NumberFault::kCharacter;
    }
  }
  if (fault != NumberFault::kNone) return fault;
  if (typed.find_first_not_of(u' ') == std::u16string_view::npos) return NumberFault::kEmpty;
  if (digits.empty()) return NumberFault::kNoDigit;
  if (digits.size() > kFaxNumberDigitLimit || typed.size() > kFaxNumberTypedLimit) {
    return NumberFault::kTooLong;
  }
  *dial = (plus ? u"+" : u"") + digits;
  return NumberFault::kNone;
}

std::u16string NumberFaultText(NumberFault fault, std::u16string_view typed) {
  switch (fault) {
    case NumberFault::kNone:
      break;
    case NumberFault::kEmpty:
      return u"No fax number given.";
    case NumberFault::kNoDigit:
      return u"The fax number " + Quoted(typed) + u" has no digit.";
    case NumberFault::kCharacter:
      for (std::size_t i = 0; i < typed.size(); ++i) {
        if (IsFaxNumberCharacter(typed[i])) continue;
        const std::size_t units = IsHighSurrogate(typed[i]) && i + 1 < typed.size() ? 2 : 1;
        return u"The fax number " + Quoted(typed) + u" holds " + Quoted(typed.substr(i, units)) +
               u": a number has digits, a leading \"+\" and the separators blank - ( ) / . only.";
      }
      break;
    case NumberFault::kPlus:
      return u"The fax number " + Quoted(typed) + u" has a \"+\" that does not lead it.";
    case NumberFault::kTooLong:
      return u"The fax number " + Quoted(typed) + u" is too long: at most " +
             Decimal(kFaxNumberDigitLimit) + u" digits in " + Decimal(kFaxNumberTypedLimit) +
             u" characters.";
  }
  return u"";
}

bool ReadAttempts(std::u16string_view typed, int* attempts) {
  if (typed.size() != 1 || typed[0] < u'1' || typed[0] > u'9') return false;
  *attempts = typed[0] - u'0';
  return true;
}

bool ModemNameTaken(std::u16string_view typed) {
  for (const char16_t c : typed) {
    if (c <= u' ' || c == 0x7F) return false;
  }
  return true;
}

std::u16string ModemFaultText(std::u16string_view typed) {
  return u"The modem " + Quoted(typed) + u" has a blank or a control character.";
}

std::u16string AttemptsFaultText(std::u16string_view typed) {
  return u"Attempts must be one digit from 1 to 9, not " + Quoted(typed) + u".";
}

}  // namespace quor
