#include <cerrno>

#include "telvor_common/win_errors.h"

namespace telvor::win_error {

std::uint32_t FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
      return kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kAccessDenied;
    case EBADF:
      return kInvalidHandle;
    case ENOMEM:
      return kNotEnoughMemory;
    case EEXIST:
      return kFileExists;
    case ENOSPC:
      return kDiskFull;
    case ENAMETOOLONG:
      return kFilenameExcedRange;
    case EWOULDBLOCK:
      return kSharingViolation;
    default:
      return static_cast<std::uint32_t>(error);
  }
}

}  // namespace telvor::win_error
