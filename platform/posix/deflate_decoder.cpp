#include "platform/posix/deflate_decoder.h"

#include <libdeflate.h>

#include "platform/platform_services.h"

namespace zipdrop {

namespace {

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

// DEFLATE never needs more than a few bytes per 64 KiB block beyond the data itself (stored
// blocks); an entry that claims much more compressed bytes than that is left to libarchive rather
// than read into memory.
std::uint64_t LargestDeflateSize(std::uint64_t uncompressed) {
  return uncompressed + uncompressed / 1024 + 1024;
}

}  // namespace

UniqueDecompressor::UniqueDecompressor() : decompressor_(libdeflate_alloc_decompressor()) {
  if (!decompressor_) throw PlatformError("cannot set up the DEFLATE decoder");
}

UniqueDecompressor::~UniqueDecompressor() { libdeflate_free_decompressor(decompressor_); }

bool FitsInMemory(const CentralEntry& entry, std::uint64_t limit) {
  if (entry.IsEncrypted() || entry.uncompressedSize > limit) return false;
  if (entry.method == kStored) return entry.compressedSize == entry.uncompressedSize;
  return entry.method == kDeflated &&
         entry.compressedSize <= LargestDeflateSize(entry.uncompressedSize);
}

std::uint32_t Crc32(std::span<const char> bytes, std::uint32_t crc) {
  return libdeflate_crc32(crc, bytes.data(), bytes.size());
}

bool InMemoryDecoder::ReadRaw(const CentralEntry& entry, std::vector<char>& into) {
  // resize keeps the capacity of earlier entries, so the buffers grow to the largest entry seen
  // (at most the limit) and are not reallocated for every entry.
  into.resize(entry.compressedSize);
  return ReadFullyAt(archiveFd_, into.data(), into.size(), entry.dataOffset);
}

std::optional<std::span<const char>> InMemoryDecoder::Decode(const CentralEntry& entry) {
  std::span<const char> content;
  if (entry.method == kStored) {
    if (!ReadRaw(entry, plain_)) return std::nullopt;
    content = plain_;
  } else {
    if (!ReadRaw(entry, compressed_)) return std::nullopt;
    plain_.resize(entry.uncompressedSize);
    // Without a place for the actual size, libdeflate fails unless the stream decodes to exactly
    // the declared size: data that a lying header understates or overstates never gets through.
    libdeflate_result result =
        libdeflate_deflate_decompress(decompressor_.Get(), compressed_.data(), compressed_.size(),
                                      plain_.data(), plain_.size(), nullptr);
    if (result != LIBDEFLATE_SUCCESS) return std::nullopt;
    content = plain_;
  }
  if (Crc32(content) != entry.crc) return std::nullopt;
  return content;
}

}  // namespace zipdrop
