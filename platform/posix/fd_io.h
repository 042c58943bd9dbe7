// Reading and writing a descriptor: the one place where a call cut short by a signal (EINTR) is
// retried, and where a short write is carried on. Each returns the count done and the errno of
// the failure, 0 when there was none.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace zipdrop {

struct IoResult {
  std::size_t count = 0;  // Bytes read or written, before any failure.
  int error = 0;          // errno of the failure; 0 when there was none.
};

/// Writes all count bytes, however many calls the file takes. A write that takes nothing fails
/// with EIO rather than spin.
inline IoResult WriteAll(int fd, const void* bytes, std::size_t count) {
  IoResult result;
  const char* next = static_cast<const char*>(bytes);
  while (result.count < count) {
    ssize_t written = write(fd, next + result.count, count - result.count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      result.error = written < 0 ? errno : EIO;
      return result;
    }
    result.count += static_cast<std::size_t>(written);
  }
  return result;
}

/// One read of up to count bytes: 0 of them at the end of the file.
inline IoResult ReadSome(int fd, void* buffer, std::size_t count) {
  for (;;) {
    ssize_t got = read(fd, buffer, count);
    if (got >= 0) return {static_cast<std::size_t>(got), 0};
    if (errno != EINTR) return {0, errno};
  }
}

/// Reads count bytes from offset on, without moving the file position; fewer only where the file
/// ends first.
inline IoResult ReadAt(int fd, void* buffer, std::size_t count, std::uint64_t offset) {
  IoResult result;
  char* next = static_cast<char*>(buffer);
  while (result.count < count) {
    ssize_t got = pread(fd, next + result.count, count - result.count,
                        static_cast<off_t>(offset + result.count));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result.error = errno;
      return result;
    }
    if (got == 0) break;
    result.count += static_cast<std::size_t>(got);
  }
  return result;
}

}  // namespace zipdrop
