// Writing on POSIX systems, once for every deliverable and host.
#pragma once

#include <cstddef>

namespace telvor {

// Writes all `size` bytes to `fd`, taking up writes that a signal cut short
// or that took only part. Returns 0, or the errno of the write that failed
// (ENOSPC when a write took nothing); `*done` (when given) gets the bytes
// that were written either way.
int WriteAll(int fd, const void* data, std::size_t size, std::size_t* done = nullptr);

}  // namespace telvor
