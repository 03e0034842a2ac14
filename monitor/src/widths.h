// The monitor's fixed widths, in UTF-16 units including the terminator.
#pragma once

#include <cstddef>

#include "quor/forms.h"

namespace quor {

// Paths: the platform's path limit (MAX_PATH), which the temporary-name call
// may fill.
inline constexpr std::size_t kPathUnits = 260;
// A setting or a note: 127 characters.
inline constexpr std::size_t kTextUnits = QUOR_TEXT_UNITS;
inline constexpr std::size_t kTextLimit = QUOR_TEXT_LIMIT;
// Dial attempts: one digit.
inline constexpr std::size_t kAttemptsUnits = QUOR_ATTEMPTS_UNITS;
inline constexpr std::size_t kAttemptsLimit = QUOR_ATTEMPTS_LIMIT;
// Fax number: what quor/fax_number.h takes.
inline constexpr std::size_t kFaxNumberUnits = QUOR_FAX_NUMBER_UNITS;
inline constexpr std::size_t kFaxNumberLimit = QUOR_FAX_NUMBER_LIMIT;

// Narrow (ANSI code page) buffers: no code page takes more than three bytes
// for one UTF-16 unit (UTF-8 needs three for a BMP character and four for a
// surrogate pair), so these hold every text the wide form can hold.
constexpr std::size_t NarrowBytes(std::size_t units) { return 3 * (units - 1) + 1; }

}  // namespace quor
