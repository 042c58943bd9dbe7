#include "platform/posix/extractor/read_at.h"

#include <sys/stat.h>

#include "platform/posix/fd_io.h"
#include "zipdrop/extractor/extractor_error.h"

namespace zipdrop {

bool ReadFullyAt(int fd, char* buffer, std::size_t count, std::uint64_t offset) {
  return ReadSomeAt(fd, buffer, count, offset) == static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t ReadSomeAt(int fd, char* buffer, std::size_t count, std::uint64_t offset) {
  IoResult read = ReadAt(fd, buffer, count, offset);
  return read.error != 0 ? -1 : static_cast<std::ptrdiff_t>(read.count);
}

std::uint64_t FileSize(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) throw ExtractorError("cannot read the size of the ZIP archive");
  return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace zipdrop
