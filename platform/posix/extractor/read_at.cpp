#include "platform/posix/extractor/read_at.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "zipdrop/extractor/extractor_error.h"

namespace zipdrop {

bool ReadFullyAt(int fd, char* buffer, std::size_t count, std::uint64_t offset) {
  return ReadSomeAt(fd, buffer, count, offset) == static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t ReadSomeAt(int fd, char* buffer, std::size_t count, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t got = pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::ptrdiff_t>(done);
}

std::uint64_t FileSize(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) throw ExtractorError("cannot read the size of the ZIP archive");
  return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace zipdrop
