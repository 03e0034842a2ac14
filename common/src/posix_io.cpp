#include "telvor_common/posix_io.h"

#include <errno.h>
#include <unistd.h>

namespace telvor {

int WriteAll(int fd, const void* data, std::size_t size, std::size_t* done) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t written = 0;
  int error = 0;
  while (written < size) {
    const ssize_t count = ::write(fd, bytes + written, size - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      error = count < 0 ? errno : ENOSPC;
      break;
    }
    written += static_cast<std::size_t>(count);
  }
  if (done) *done = written;
  return error;
}

}  // namespace telvor
