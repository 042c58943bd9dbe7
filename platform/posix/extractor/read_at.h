// Reading the archive file at given offsets. Every reader of the archive goes through pread on the
// one descriptor opened at the start, so the workers share it without a file position, and a file
// replaced on disk meanwhile cannot change what is read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zipdrop {

/// pread until count bytes are read; false on a short file or an error.
bool ReadFullyAt(int fd, char* buffer, std::size_t count, std::uint64_t offset);

/// pread as many of count bytes as the file has there; the number read, or -1 on an error.
std::ptrdiff_t ReadSomeAt(int fd, char* buffer, std::size_t count, std::uint64_t offset);

/// The size of the open file; throws ExtractorError when it cannot be known.
std::uint64_t FileSize(int fd);

}  // namespace zipdrop
