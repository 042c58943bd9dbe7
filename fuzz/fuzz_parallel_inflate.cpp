// Holds the parallel DEFLATE decoder against the one-core decoder. The input's first bytes pick
// zlib's level and strategy, the chunk size, the helper count and one bit to flip (or none); the
// rest is the content, compressed with zlib in blocks of about 128 symbols so that a small
// input has many blocks and many chunks. Both decoders go through the extractor's EntryStream
// with the content's size and CRC declared, and must agree: the same bytes, or both refusing.

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_invariant.h"
#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/isal_library.h"
#include "platform/posix/extractor/method_decoders.h"
#include "platform/posix/extractor/parallel_inflate.h"
#include "platform/posix/extractor/zip_records.h"
#include "platform/posix/unique_fd.h"
#include "tests/posix/zip_builder.h"

namespace {

using namespace zipdrop;
using zipdrop::testing::RawDeflate;

constexpr std::size_t kHeader = 5;
constexpr int kStrategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};

std::optional<std::string> Decode(int fd, const CentralEntry& entry, MethodDecoder& decoder) {
  std::vector<unsigned char> input;
  EntryStream stream(fd, entry, decoder, input);
  std::string out;
  char block[4096];
  for (std::ptrdiff_t count; (count = stream.Read(block, sizeof block)) != 0;) {
    if (count < 0) return std::nullopt;
    out.append(block, static_cast<std::size_t>(count));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const IsalInflate* isal = LoadIsalInflate();
  if (size < kHeader || isal == nullptr) return 0;
  std::string_view plain(reinterpret_cast<const char*>(data) + kHeader, size - kHeader);
  std::string raw = RawDeflate(plain, data[0] % 10, kStrategies[data[0] / 10 % 5]);
  std::size_t flip = (data[3] | data[4] << 8) * 8 + data[2] % 8;
  if (data[2] & 0x80 && flip / 8 < raw.size())
    raw[flip / 8] = static_cast<char>(raw[flip / 8] ^ (1 << flip % 8));
  UniqueFd file(memfd_create("fuzz-parallel", MFD_CLOEXEC));
  if (!file.Valid() ||
      write(file.Get(), raw.data(), raw.size()) != static_cast<ssize_t>(raw.size())) {
    return 0;
  }
  CentralEntry entry;
  entry.method = kMethodDeflate;
  entry.compressedSize = raw.size();
  entry.uncompressedSize = plain.size();
  entry.crc = ZipCrc32(plain);
  std::optional<std::string> one = Decode(file.Get(), entry, *MakeMethodDecoder(kMethodDeflate));
  ParallelInflateTuning tuning;
  tuning.chunkSize = 64 + data[1] % 32 * 32;
  tuning.helpers = 1 + data[1] / 32 % 3;
  tuning.maxSymbols = tuning.chunkSize * 1024;
  tuning.patient = data[1] & 0x80;
  ParallelInflateDecoder parallel(file.Get(), *isal, tuning);
  std::optional<std::string> many = Decode(file.Get(), entry, parallel);
  if (one != many) {
    Violation("the parallel decoder and the one-core decoder disagree",
              "one core " + std::string(one ? "decoded" : "refused") + ", parallel " +
                  (many ? "decoded" : "refused") + ", chunk " + std::to_string(tuning.chunkSize));
  }
  return 0;
}
