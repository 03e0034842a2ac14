// UTF-16 texts cross into the spooler's records as WCHAR (wchar_t on
// Windows, char16_t elsewhere): the same 16-bit units under another type.
#pragma once

#include "quor/spooler.h"

namespace quor {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR must be a 16-bit unit");

inline const char16_t* AsText(const WCHAR* text) { return reinterpret_cast<const char16_t*>(text); }
inline char16_t* AsText(WCHAR* text) { return reinterpret_cast<char16_t*>(text); }
inline const WCHAR* AsWide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }
inline WCHAR* AsWide(char16_t* text) { return reinterpret_cast<WCHAR*>(text); }

}  // namespace quor
