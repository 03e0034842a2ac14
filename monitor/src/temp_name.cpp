#include "temp_name.h"

#include "platform.h"
#include "report.h"
#include "telvor_common/win_errors.h"

namespace quor {

namespace {
#ifdef _WIN32
constexpr char16_t kFolderFailed[] = u"CreateDirectory error %d\n";
#else
constexpr char16_t kFolderFailed[] = u"GetEnvironmentVariable error %d\n";
#endif

constexpr std::size_t kPrefixChars = 3;
constexpr char16_t kExtension[] = u".tmp";
constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
}  // namespace

bool TempDirectory(char16_t (&directory)[kPathUnits]) {
  constexpr std::uint32_t kCapacity = kPathUnits - 1;  // room for the separator
  std::uint32_t length = 0;
  std::uint32_t error = 0;
  {
    const AsSpooler as_spooler;
    length = CurrentPlatform().SpoolFolder(directory, kCapacity);
    if (length == 0) error = CurrentPlatform().LastError();
  }
  if (length == 0) {
    ReportCode(kFolderFailed, static_cast<std::int32_t>(error));
    return false;
  }
  if (length >= kCapacity) {
    ReportCode(kFolderFailed, telvor::win_error::kInsufficientBuffer);
    return false;
  }
  directory[length] = kPathSeparator;
  directory[length + 1] = 0;
  return true;
}

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
