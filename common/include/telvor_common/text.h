// UTF-16 text as the monitor and the installer hold it: 16-bit units on every
// platform (wchar_t is 16 bits on Windows only, so the portable code uses
// char16_t and the Windows layers cast at the boundary).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace telvor {

using Text = std::u16string;
using TextView = std::u16string_view;

// Length in units of a zero-terminated UTF-16 string.
std::size_t TextLength(const char16_t* text);

// Copies `source` and its terminator into `dest` of `capacity` units. Returns
// false, leaving an empty string (when capacity > 0), when it does not fit.
bool CopyText(char16_t* dest, std::size_t capacity, TextView source);

// UTF-8 <-> UTF-16 for the POSIX layers and the tests. Invalid input is
// replaced by U+FFFD rather than dropped.
Text FromUtf8(std::string_view utf8);
std::string ToUtf8(TextView text);

// The common error report: `format` holds one "%d" that receives `code` as a
// signed decimal ("AddPrinter error %d\n" -> "AddPrinter error 5\n").
Text FormatCode(TextView format, std::int32_t code);

}  // namespace telvor
