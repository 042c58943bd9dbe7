// Small and middle-sized stored and deflated entries, read whole and decoded whole with libdeflate:
// for an entry that fits in memory, one pread and one call beat the streaming decoders.
#pragma once

#include <libdeflate.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/posix/extractor/central_directory.h"

namespace zipdrop {

/// Whether the entry's data can be taken by InMemoryDecoder: stored or deflated, not encrypted,
/// no larger than limit, and with sizes that agree with its method. Everything else is left to
/// the streaming decoders.
bool FitsInMemory(const CentralEntry& entry, std::uint64_t limit);

/// Reads and decodes entries that FitsInMemory accepts, reusing its buffers from entry to entry.
class InMemoryDecoder {
 public:
  /// archiveFd is read with pread only, so several decoders (one per thread) can share it.
  explicit InMemoryDecoder(int archiveFd);

  /// The entry's content, or nothing when it is damaged: its bytes cannot be read, do not decode
  /// to exactly the size the central directory declares, or do not match its CRC-32. The span
  /// stays valid until the next call.
  std::optional<std::span<const char>> Decode(const CentralEntry& entry);

 private:
  bool ReadRaw(const CentralEntry& entry, std::vector<char>& into);

  int archiveFd_;
  std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor_;
  std::vector<char> compressed_;
  std::vector<char> plain_;
};

}  // namespace zipdrop
