// Fuzzes the extractor's decoders on raw streams. The first byte picks the method and how the
// input and output are cut into pieces; the rest is the stream.
//
// DEFLATE goes through our own Inflater, cut into pieces, and is held against zlib, the reference
// decoder: whatever zlib decodes, the Inflater must decode to the same bytes. (libdeflate is no
// reference here: it lets code-length repeats run past the end of the table.)
// Deflate64, bzip2, LZMA, xz, zstd, stored and PPMd go through the same EntryStream the extractor
// uses, reading from a file with pread, and must neither crash nor grow past the output cap.

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_invariant.h"
#include "platform/posix/extractor/decoder_set.h"
#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/inflater.h"
#include "platform/posix/extractor/zip_records.h"
#include "platform/posix/unique_fd.h"

namespace {

using namespace zipdrop;

// Enough for any small stream to show its behaviour, small enough for many runs a second.
constexpr std::size_t kOutputCap = 1 << 20;

constexpr std::uint16_t kMethods[] = {kMethodDeflate64, kMethodBzip2,  kMethodLzma, kMethodXz,
                                      kMethodZstd,      kMethodStored, kMethodPpmd};

// The Inflater fed `piece` bytes at a time with `room` bytes of output at a time; nothing when
// it refuses the stream or passes the cap.
std::optional<std::string> InflateInPieces(std::span<const std::uint8_t> stream, std::size_t piece,
                                           std::size_t room) {
  Inflater inflater(Inflater::Variant::kDeflate);
  std::string out;
  std::vector<char> block(room);
  std::size_t given = 0, consumed = 0;
  while (out.size() <= kOutputCap) {
    given = std::max(given, std::min(stream.size(), consumed + piece));
    auto input = stream.subspan(consumed, given - consumed);
    Inflater::Result result = inflater.Inflate(input, given == stream.size(), block);
    consumed += result.consumed;
    out.append(block.data(), result.produced);
    if (result.status == Inflater::Status::kEnd) return out;
    if (result.status == Inflater::Status::kDamaged) return std::nullopt;
    if (result.status == Inflater::Status::kNeedInput) {
      if (given == stream.size()) return std::nullopt;
      given = std::min(stream.size(), given + piece);
    }
  }
  return std::nullopt;
}

// zlib's raw inflate of the whole stream; nothing when it refuses it or passes the cap.
std::optional<std::string> ZlibInflate(std::span<const std::uint8_t> stream) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return std::nullopt;
  std::string out(kOutputCap + 1, '\0');
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int status = inflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  inflateEnd(&z);
  if (status != Z_STREAM_END || out.size() > kOutputCap) return std::nullopt;
  return out;
}

void CheckAgainstZlib(std::span<const std::uint8_t> stream, std::uint8_t shape) {
  std::optional<std::string> theirs = ZlibInflate(stream);
  if (!theirs) return;
  std::size_t piece = 1 + (shape & 7) * 37;
  std::size_t room = 1 + ((shape >> 3) & 7) * 1111;
  std::optional<std::string> ours = InflateInPieces(stream, piece, room);
  if (!ours)
    Violation("the Inflater refused a stream zlib decodes", std::to_string(theirs->size()));
  if (*ours != *theirs) Violation("the Inflater and zlib disagree", std::to_string(theirs->size()));
}

void DecodeThroughEntryStream(std::span<const std::uint8_t> stream, std::uint8_t shape) {
  UniqueFd file(memfd_create("fuzz-entry", MFD_CLOEXEC));
  if (!file.Valid() ||
      write(file.Get(), stream.data(), stream.size()) != static_cast<ssize_t>(stream.size())) {
    return;
  }
  CentralEntry entry;
  entry.method = kMethods[(shape >> 1) % std::size(kMethods)];
  entry.flags = (shape & 1) != 0 ? 0x0002 : 0;  // LZMA's end-of-stream marker, or none.
  entry.compressedSize = stream.size();
  entry.uncompressedSize = kOutputCap;
  DecoderSet decoders;
  MethodDecoder* decoder = decoders.For(entry.method);
  if (decoder == nullptr) Violation("no decoder for a method the extractor knows", "");
  std::vector<unsigned char> input;
  EntryStream entryStream(file.Get(), entry, *decoder, input);
  std::vector<char> block(64 * 1024);
  std::size_t total = 0;
  for (std::ptrdiff_t count; (count = entryStream.Read(block.data(), block.size())) > 0;) {
    total += static_cast<std::size_t>(count);
    if (total > kOutputCap + block.size()) return;  // The writer stops here as too large.
  }
  if (entryStream.ConsumedEnd() > stream.size()) {
    Violation("a decoder consumed bytes past its entry", std::to_string(stream.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::uint8_t selector = data[0];
  std::span<const std::uint8_t> stream(data + 1, size - 1);
  if (selector >= 0x80) {
    CheckAgainstZlib(stream, selector & 0x7F);
  } else {
    DecodeThroughEntryStream(stream, selector);
  }
  return 0;
}
