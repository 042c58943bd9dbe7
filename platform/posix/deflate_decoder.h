// Our own reading of the data of small and middle-sized entries: the raw bytes are read where the
// pre-scan found them and decoded whole with libdeflate, which decodes DEFLATE about twice as fast
// as the zlib inside libarchive. libarchive still reads every entry's header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/posix/central_directory.h"

struct libdeflate_decompressor;

namespace zipdrop {

/// Entries up to this size (uncompressed) are decoded in memory; larger ones are streamed by
/// libarchive. Each worker holds at most this much plus the compressed bytes, so memory stays
/// bounded whatever the archive holds.
inline constexpr std::uint64_t kInMemoryLimit = 8 * 1024 * 1024;

/// Owns a libdeflate decompressor.
class UniqueDecompressor {
 public:
  UniqueDecompressor();
  UniqueDecompressor(const UniqueDecompressor&) = delete;
  UniqueDecompressor& operator=(const UniqueDecompressor&) = delete;
  ~UniqueDecompressor();
  libdeflate_decompressor* Get() const { return decompressor_; }

 private:
  libdeflate_decompressor* decompressor_;
};

/// Whether the entry's data can be taken by InMemoryDecoder: stored or deflated, not encrypted,
/// no larger than limit, and with sizes that agree with its method. Everything else is left to
/// libarchive, which knows more methods and streams what is large.
bool FitsInMemory(const CentralEntry& entry, std::uint64_t limit = kInMemoryLimit);

/// Reads and decodes entries that FitsInMemory accepts, reusing its buffers from entry to entry.
class InMemoryDecoder {
 public:
  /// archiveFd is read with pread only, so several decoders (one per thread) can share it.
  explicit InMemoryDecoder(int archiveFd) : archiveFd_(archiveFd) {}

  /// The entry's content, or nothing when it is damaged: its bytes cannot be read, do not decode
  /// to exactly the size the central directory declares, or do not match its CRC-32. The span
  /// stays valid until the next call.
  std::optional<std::span<const char>> Decode(const CentralEntry& entry);

 private:
  bool ReadRaw(const CentralEntry& entry, std::vector<char>& into);

  int archiveFd_;
  UniqueDecompressor decompressor_;
  std::vector<char> compressed_;
  std::vector<char> plain_;
};

/// The CRC-32 of the bytes, as ZIP records it.
std::uint32_t Crc32(std::span<const char> bytes, std::uint32_t crc = 0);

}  // namespace zipdrop
