// The temporary-name rule, as the platform's temporary-name call applies it:
// the directory (ending with a separator), the first three characters of the
// prefix, the number in upper-case hexadecimal and ".tmp".
#pragma once

#include <cstdint>

#include "telvor_common/text.h"

namespace quor {

#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

telvor::Text TempName(telvor::TextView directory, telvor::TextView prefix, std::uint32_t number);

}  // namespace quor
