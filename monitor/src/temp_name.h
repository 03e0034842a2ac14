// The TEMP directory and the temporary-name rule, as the platform's
// temporary-name call applies it: the directory (ending with a separator),
// the first three characters of the prefix, the number in upper-case
// hexadecimal and ".tmp".
#pragma once

#include <cstdint>

#include "telvor_common/text.h"
#include "widths.h"

namespace quor {

#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

// The prefix of the placeholder's and the spool files' names.
inline constexpr char16_t kTempPrefix[] = u"fax";

// The platform's spool folder (TEMP on POSIX) with a separator appended
// (whether or not it ends with one already); false after the error report
// when it is missing, cannot be made or is too long.
bool TempDirectory(char16_t (&directory)[kPathUnits]);

telvor::Text TempName(telvor::TextView directory, telvor::TextView prefix, std::uint32_t number);

}  // namespace quor
