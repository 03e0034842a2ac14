#include "report.h"

#include "person.h"
#include "telvor_common/text.h"

namespace quor {

void ReportCode(const char16_t* format, std::int32_t code) {
  const telvor::Text text = telvor::FormatCode(format, code);
  TellPerson(text.c_str(), kCaption, Owner::kNone);
}

std::int32_t LastErrorCode() { return static_cast<std::int32_t>(CurrentPlatform().LastError()); }

void ReportLastError(const char16_t* format) { ReportCode(format, LastErrorCode()); }

}  // namespace quor
