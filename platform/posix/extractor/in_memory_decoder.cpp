#include "platform/posix/extractor/in_memory_decoder.h"

#include <libdeflate.h>

#include "platform/posix/extractor/read_at.h"
#include "platform/posix/extractor/zip_records.h"
#include "zipdrop/extractor/extractor_error.h"

namespace zipdrop {

namespace {

// DEFLATE never needs more than a few bytes per 64 KiB block beyond the data itself (stored
// blocks); an entry that claims much more compressed bytes than that is left to the streaming
// decoders rather than read into memory.
std::uint64_t LargestDeflateSize(std::uint64_t uncompressed) {
  return uncompressed + uncompressed / 1024 + 1024;
}

}  // namespace

InMemoryDecoder::InMemoryDecoder(int archiveFd)
    : archiveFd_(archiveFd),
      decompressor_(libdeflate_alloc_decompressor(), libdeflate_free_decompressor) {
  if (!decompressor_) throw ExtractorError("cannot set up the DEFLATE decoder");
}

bool FitsInMemory(const CentralEntry& entry, std::uint64_t limit) {
  if (entry.IsEncrypted() || entry.uncompressedSize > limit) return false;
  if (entry.method == kMethodStored) return entry.compressedSize == entry.uncompressedSize;
  return entry.method == kMethodDeflate &&
         entry.compressedSize <= LargestDeflateSize(entry.uncompressedSize);
}

bool InMemoryDecoder::ReadRaw(const CentralEntry& entry, std::vector<char>& into) {
  // resize keeps the capacity of earlier entries, so the buffers grow to the largest entry seen
  // (at most the limit) and are not reallocated for every entry.
  // A compressed size that runs past the file is judged by the data that is there, as the
  // streaming decoders judge it: a stream that ends in time still decodes.
  into.resize(entry.compressedSize);
  std::ptrdiff_t got = ReadSomeAt(archiveFd_, into.data(), into.size(), entry.dataOffset);
  if (got < 0) return false;
  into.resize(static_cast<std::size_t>(got));
  return true;
}

std::optional<std::span<const char>> InMemoryDecoder::Decode(const CentralEntry& entry) {
  std::span<const char> content;
  if (entry.method == kMethodStored) {
    if (!ReadRaw(entry, plain_)) return std::nullopt;
    content = plain_;
  } else {
    if (!ReadRaw(entry, compressed_)) return std::nullopt;
    plain_.resize(entry.uncompressedSize);
    // Without a place for the actual size, libdeflate fails unless the stream decodes to exactly
    // the declared size: data that a lying header understates or overstates never gets through.
    libdeflate_result result =
        libdeflate_deflate_decompress(decompressor_.get(), compressed_.data(), compressed_.size(),
                                      plain_.data(), plain_.size(), nullptr);
    if (result != LIBDEFLATE_SUCCESS) return std::nullopt;
    content = plain_;
  }
  if (ZipCrc32(std::string_view(content.data(), content.size())) != entry.crc) return std::nullopt;
  return content;
}

}  // namespace zipdrop
