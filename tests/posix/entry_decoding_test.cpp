#include <bzlib.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/posix/extractor/decoder_set.h"
#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/in_memory_decoder.h"
#include "platform/posix/extractor/isal_library.h"
#include "platform/posix/extractor/parallel_inflate.h"
#include "platform/posix/extractor/zip_records.h"
#include "platform/posix/unique_fd.h"
#include "tests/posix/scratch_folder.h"
#include "tests/posix/zip_builder.h"

namespace zipdrop {
namespace {

using testing::RawDeflate;

constexpr std::uint64_t kOffset = 7;  // The data never starts at the file's first byte.

std::string Deflate(const std::string& plain) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
  std::string out(libdeflate_deflate_compress_bound(compressor, plain.size()), '\0');
  out.resize(
      libdeflate_deflate_compress(compressor, plain.data(), plain.size(), out.data(), out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

std::string Bzip2(std::string plain) {
  std::string out(plain.size() + plain.size() / 100 + 600, '\0');
  auto size = static_cast<unsigned>(out.size());
  BZ2_bzBuffToBuffCompress(out.data(), &size, plain.data(), static_cast<unsigned>(plain.size()), 9,
                           0, 0);
  return out.substr(0, size);
}

std::string Xz(const std::string& plain) {
  std::string out(lzma_stream_buffer_bound(plain.size()), '\0');
  std::size_t size = 0;
  lzma_easy_buffer_encode(6, LZMA_CHECK_CRC32, nullptr,
                          reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size(),
                          reinterpret_cast<std::uint8_t*>(out.data()), &size, out.size());
  return out.substr(0, size);
}

// ZIP's LZMA framing: version, properties' length and properties, then the raw stream. The .lzma
// form liblzma writes has the same properties followed by the size.
std::string ZipLzma(const std::string& plain) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_alone_encoder(&stream, &options) != LZMA_OK) return "";
  std::string out(plain.size() + plain.size() / 2 + 1024, '\0');
  stream.next_in = reinterpret_cast<const std::uint8_t*>(plain.data());
  stream.avail_in = plain.size();
  stream.next_out = reinterpret_cast<std::uint8_t*>(out.data());
  stream.avail_out = out.size();
  while (lzma_code(&stream, LZMA_FINISH) == LZMA_OK) {
  }
  out.resize(out.size() - stream.avail_out);
  lzma_end(&stream);
  return std::string("\x10\x02\x05\x00", 4) + out.substr(0, 5) + out.substr(13);
}

std::string Zstd(const std::string& plain) {
  std::string out(ZSTD_compressBound(plain.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), 3));
  return out;
}

// The plain content of tests/posix/data/deflate64.raw, which 7-Zip wrote with -mm=Deflate64:
// 600 pseudo-random bytes, 50,000 zeros, the same 600 bytes again (a distance past 32 KiB) and
// 3,000 'x' (lengths past 258).
std::string Deflate64Plain() {
  std::string block;
  for (std::uint32_t x = 12345; block.size() < 600;) {
    x = (x * 1103515245u + 12345u) & 0x7FFFFFFF;
    block.push_back(static_cast<char>((x >> 16) & 0xFF));
  }
  return block + std::string(50000, '\0') + block + std::string(3000, 'x');
}

// What 7-Zip wrote for the data: deflate64.raw with -mm=Deflate64 (see Deflate64Plain), ppmd.raw
// with -mm=PPMd for Text(20000); and infozip.raw, Info-ZIP's zip -6 of Words(200000).
std::string DataFile(const char* name) {
  std::ifstream file(std::string(ZIPDROP_SOURCE_DIR "/tests/posix/data/") + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Words in no fixed order: compressed about 3:1, like fresh text, in many blocks.
std::string Words(std::size_t size) {
  static const char* const kWords[] = {"cat ",  "dog\n", "bird ", "ox ",
                                       "eel, ", "yak ",  "gnu. ", "ant "};
  std::string text;
  for (std::uint32_t x = 1; text.size() < size;) {
    x = x * 1103515245u + 12345u;
    text += kWords[(x >> 16) % 8];
  }
  text.resize(size);
  return text;
}

// Fixed-Huffman blocks of 0 to 7 literals of 9 bits, each followed by a stored block, so that
// the stored blocks' headers fall at every bit phase; then the plain content.
std::pair<std::string, std::string> StoredAtEveryPhase() {
  std::string raw, plain;
  std::uint32_t bits = 0, count = 0;
  auto put = [&](std::uint32_t value, unsigned length) {
    bits |= value << count;
    for (count += length; count >= 8; count -= 8, bits >>= 8) raw.push_back(char(bits & 0xFF));
  };
  for (int round = 0; round < 24; ++round) {
    put(2, 3);  // BFINAL 0, fixed codes.
    for (int i = 0; i < round % 8; ++i) {
      plain.push_back(static_cast<char>(0x90 + i));
      std::uint32_t code = 0x190 + i, reversed = 0;  // 9-bit codes, written from the top bit.
      for (int b = 0; b < 9; ++b) reversed |= ((code >> (8 - b)) & 1) << b;
      put(reversed, 9);
    }
    put(0, 7);  // End of block.
    put(0, 3);  // BFINAL 0, stored.
    if (count) put(0, 8 - count);
    std::string stored = Words(300 + round);
    put(static_cast<std::uint32_t>(stored.size()), 16);
    put(static_cast<std::uint32_t>(stored.size()) ^ 0xFFFF, 16);
    raw += stored;
    plain += stored;
  }
  put(3, 3);  // A last fixed block, empty.
  put(0, 7 + 8);
  return {plain, raw};
}

std::string Flipped(std::string raw, std::size_t bit) {
  raw[bit / 8] = static_cast<char>(raw[bit / 8] ^ (1 << (bit % 8)));
  return raw;
}

// The entry's content as the decoder gives it when streamed, or nothing when it refuses the data.
std::optional<std::string> Streamed(int fd, const CentralEntry& entry, MethodDecoder& decoder) {
  std::vector<unsigned char> input;
  EntryStream stream(fd, entry, decoder, input);
  std::string content;
  char block[7000];  // Not a power of two, so that the output ends mid-match now and then.
  for (std::ptrdiff_t count; (count = stream.Read(block, sizeof block)) != 0;) {
    if (count < 0) return std::nullopt;
    content.append(block, static_cast<std::size_t>(count));
  }
  return content;
}

std::optional<std::string> Streamed(int fd, const CentralEntry& entry) {
  DecoderSet decoders;
  MethodDecoder* decoder = decoders.For(entry.method);
  if (decoder == nullptr) return std::nullopt;
  return Streamed(fd, entry, *decoder);
}

std::string Text(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i % 97) + "\n";
  text.resize(size);
  return text;
}

// One entry's raw bytes in a file, and the central record that describes them.
struct RawCase {
  const char* label;
  std::uint16_t method;
  std::string plain;
  std::string raw;              // What lies in the file at the entry's data offset.
  std::int64_t sizeChange = 0;  // Added to the declared uncompressed size.
  std::uint32_t crcChange = 0;  // XORed into the declared CRC.
  std::int64_t rawChange = 0;   // Added to the declared compressed size.
  bool decodes;
  bool withoutIsal = false;  // DEFLATE by zlib, as on a machine without ISA-L.
  std::size_t chunk = 0;     // Also decoded in parallel, in chunks of this many bytes.
  bool split = false;        // Whether the helpers' chunks must then be used.
};

// The parallel decoder must give the same outcome as one core, whatever its helper count,
// waiting for its helpers (so that every chunk they can decode is used) or not.
void ExpectParallelAgrees(int fd, const CentralEntry& entry, const RawCase& c) {
  for (bool patient : {true, false}) {
    for (std::size_t helpers : {1, 3}) {
      SCOPED_TRACE(::testing::Message() << "helpers " << helpers << ", patient " << patient);
      ParallelInflateDecoder decoder(fd, *LoadIsalInflate(),
                                     {c.chunk, helpers, 4, 1024 * c.chunk, patient});
      std::optional<std::string> content = Streamed(fd, entry, decoder);
      ASSERT_EQ(content.has_value(), c.decodes);
      EXPECT_TRUE(!c.decodes || *content == c.plain);
      EXPECT_TRUE(!patient || !c.split || decoder.ChunksUsed() > 0);
    }
  }
}

class EntryDecodingTest : public ::testing::TestWithParam<RawCase> {
 protected:
  void SetUp() override { ForceIsalMissing(GetParam().withoutIsal); }
  void TearDown() override { ForceIsalMissing(false); }
  testing::ScratchFolder scratch_;
};

// The build machine has ISA-L; a load that silently failed would leave only zlib tested.
TEST(IsalLibraryTest, LoadsWhereInstalled) { EXPECT_NE(LoadIsalInflate(), nullptr); }

// Both paths, whole in memory (stored and deflated) and streamed through each method's decoder.
TEST_P(EntryDecodingTest, GivesExactlyTheDeclaredContentOrNothing) {
  const RawCase& c = GetParam();
  std::string path = scratch_ / "raw";
  testing::ZipBuilder::WriteBytes(path, std::string(kOffset, 'P') + c.raw + "PK\1\2 after");
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(fd.Valid());
  CentralEntry entry;
  entry.method = c.method;
  entry.dataOffset = kOffset;
  entry.compressedSize = c.raw.size() + c.rawChange;
  entry.uncompressedSize = c.plain.size() + c.sizeChange;
  entry.crc = testing::Crc32(c.plain) ^ c.crcChange;
  std::optional<std::string> streamed = Streamed(fd.Get(), entry);
  ASSERT_EQ(streamed.has_value(), c.decodes);
  if (c.decodes) {
    EXPECT_EQ(*streamed, c.plain);
  }
  if (c.chunk != 0) ExpectParallelAgrees(fd.Get(), entry, c);
  if (c.method != kMethodStored && c.method != kMethodDeflate) return;
  InMemoryDecoder decoder(fd.Get());
  std::optional<std::span<const char>> content = decoder.Decode(entry);
  ASSERT_EQ(content.has_value(), c.decodes);
  if (c.decodes) {
    EXPECT_EQ(std::string(content->begin(), content->end()), c.plain);
  }
  // The decoder's buffers are reused: a second, smaller entry must not see the first's bytes.
  testing::ZipBuilder::WriteBytes(path, std::string(kOffset, 'P') + Deflate("ab"));
  CentralEntry small{.dataOffset = kOffset,
                     .compressedSize = Deflate("ab").size(),
                     .uncompressedSize = 2,
                     .crc = testing::Crc32("ab"),
                     .method = 8};
  content = decoder.Decode(small);
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(std::string(content->begin(), content->end()), "ab");
}

const std::string kText = Text(300000);
const std::string kWords = Words(200000);
const std::string kZlib6 = RawDeflate(kWords, 6);
const auto [kPhasesPlain, kPhasesRaw] = StoredAtEveryPhase();

INSTANTIATE_TEST_SUITE_P(
    Entries, EntryDecodingTest,
    ::testing::Values(
        RawCase{"Deflated", 8, kText, Deflate(kText), 0, 0, 0, true},
        RawCase{"Stored", 0, kText, kText, 0, 0, 0, true},
        RawCase{"EmptyDeflated", 8, "", Deflate(""), 0, 0, 0, true},
        RawCase{"EmptyStored", 0, "", "", 0, 0, 0, true},
        RawCase{"WrongCrc", 8, kText, Deflate(kText), 0, 1, 0, false},
        RawCase{"StoredWrongCrc", 0, kText, kText, 0, 0x80000000u, 0, false},
        // A header that understates or overstates the size must not let other bytes through.
        RawCase{"SizeUnderstated", 8, kText, Deflate(kText), -1, 0, 0, false},
        RawCase{"SizeOverstated", 8, kText, Deflate(kText), 1, 0, 0, false},
        RawCase{"CompressedCutShort", 8, kText, Deflate(kText), 0, 0, -10, false},
        // A compressed size larger than the data is harmless when the stream ends in time.
        RawCase{"RunsPastTheFile", 8, kText, Deflate(kText), 0, 0, 1000, true},
        RawCase{"NotDeflate", 8, kText, std::string(5000, '\xff'), 0, 0, 0, false},
        RawCase{"DeflatedWithoutIsal", 8, kText, Deflate(kText), 0, 0, 0, true, true},
        RawCase{"CutShortWithoutIsal", 8, kText, Deflate(kText), 0, 0, -10, false, true},
        RawCase{"NotDeflateWithoutIsal", 8, kText, std::string(5000, '\xff'), 0, 0, 0, false, true},
        RawCase{"Bzip2", 12, kText, Bzip2(kText), 0, 0, 0, true},
        RawCase{"Bzip2CutShort", 12, kText, Bzip2(kText), 0, 0, -10, false},
        RawCase{"Xz", 95, kText, Xz(kText), 0, 0, 0, true},
        RawCase{"XzSizeOverstated", 95, kText, Xz(kText), 1, 0, 0, false},
        RawCase{"Lzma", 14, kText, ZipLzma(kText), 0, 0, 0, true},
        RawCase{"LzmaWrongCrc", 14, kText, ZipLzma(kText), 0, 4, 0, false},
        RawCase{"Zstd", 93, kText, Zstd(kText), 0, 0, 0, true},
        RawCase{"ZstdNotZstd", 93, kText, kText, 0, 0, 0, false},
        RawCase{"Deflate64", 9, Deflate64Plain(), DataFile("deflate64.raw"), 0, 0, 0, true},
        RawCase{"Deflate64CutShort", 9, Deflate64Plain(), DataFile("deflate64.raw"), 0, 0, -100,
                false},
        RawCase{"Deflate64WrongCrc", 9, Deflate64Plain(), DataFile("deflate64.raw"), 0, 8, 0,
                false},
        // Deflate64 gives length code 285 and distance codes 30 and 31 other meanings: a DEFLATE
        // stream using them is refused or decodes to other bytes.
        RawCase{"DeflateReadAsDeflate64", 9, kText, Deflate(kText), 0, 0, 0, false},
        RawCase{"UnknownMethod", 77, kText, kText, 0, 0, 0, false},
        RawCase{"Ppmd", 98, Text(20000), DataFile("ppmd.raw"), 0, 0, 0, true},
        RawCase{"PpmdWrongCrc", 98, Text(20000), DataFile("ppmd.raw"), 0, 2, 0, false},
        // A size declared 4 GiB too large (a wrapped counter, a doubled zip64 field) is taken
        // when the CRC confirms the content; any other difference is not.
        RawCase{"SizeOffBy4GiB", 95, kText, Xz(kText), 1ll << 32, 0, 0, true},
        RawCase{"SizeOffBy4GiBWrongCrc", 95, kText, Xz(kText), 1ll << 32, 1, 0, false},
        RawCase{"SizeOffByMoreThan4GiB", 95, kText, Xz(kText), (1ll << 32) + 1, 0, 0, false},
        // Decoded in parallel as well, in chunks small enough that each stream has dozens.
        RawCase{"ParallelZlib1", 8, kWords, RawDeflate(kWords, 1), 0, 0, 0, true, false, 1024,
                true},
        RawCase{"ParallelZlib6", 8, kWords, kZlib6, 0, 0, 0, true, false, 1024, true},
        RawCase{"ParallelZlib9", 8, kWords, RawDeflate(kWords, 9), 0, 0, 0, true, false, 1024,
                true},
        // One final block for the whole stream (blocks of 16,384 symbols), as libdeflate's
        // is: no block start to find, so one core decodes it all.
        RawCase{"ParallelOneBlock", 8, kWords, RawDeflate(kWords, 6, Z_DEFAULT_STRATEGY, 9), 0, 0,
                0, true, false, 1024},
        // Fixed-Huffman blocks are not looked for: one core decodes it all.
        RawCase{"ParallelFixed", 8, kWords, RawDeflate(kWords, 6, Z_FIXED), 0, 0, 0, true, false,
                1024},
        RawCase{"ParallelLibdeflate", 8, kWords, Deflate(kWords), 0, 0, 0, true, false, 1024},
        RawCase{"ParallelInfoZip", 8, kWords, DataFile("infozip.raw"), 0, 0, 0, true, false, 1024},
        RawCase{"ParallelStoredAtEveryPhase", 8, kPhasesPlain, kPhasesRaw, 0, 0, 0, true, false,
                256, true},
        // Chunks shorter than the blocks: a helper's chunk can never end where the next begins,
        // and ISA-L often ends a block near a guess that is not one. Nothing may be taken.
        RawCase{"ParallelStoredAtEveryPhaseOddChunks", 8, kPhasesPlain, kPhasesRaw, 0, 0, 0, true,
                false, 97},
        RawCase{"ParallelZlib6OddChunks", 8, kWords, kZlib6, 0, 0, 0, true, false, 61},
        // Stored DEFLATE data looks like block starts everywhere, and none of them is one.
        RawCase{"ParallelDeflateInsideStored", 8, kZlib6, RawDeflate(kZlib6, 0), 0, 0, 0, true,
                false, 1024},
        // Repetitive text: chunks start within the first 32 KiB of output, and markers are
        // copied from chunk to chunk.
        RawCase{"ParallelMarkerChains", 8, kText, RawDeflate(kText, 6), 0, 0, 0, true, false, 256,
                true},
        RawCase{"ParallelReachesBeforeStart", 8, kWords,
                RawDeflate(kWords, 6, Z_DEFAULT_STRATEGY, 1, kWords.substr(5000, 32768)), 0, 0, 0,
                false, false, 1024},
        RawCase{"ParallelCutAtChunkEdge", 8, kWords, kZlib6, 0, 0,
                8192 - static_cast<std::int64_t>(kZlib6.size()), false, false, 1024},
        RawCase{"ParallelCutAfterChunkEdge", 8, kWords, kZlib6, 0, 0,
                8193 - static_cast<std::int64_t>(kZlib6.size()), false, false, 1024},
        RawCase{"ParallelCutBeforeChunkEdge", 8, kWords, kZlib6, 0, 0,
                8191 - static_cast<std::int64_t>(kZlib6.size()), false, false, 1024},
        RawCase{"ParallelCutAtTheEnd", 8, kWords, kZlib6, 0, 0, -1, false, false, 1024},
        RawCase{"ParallelFlippedLateBit", 8, kWords, Flipped(kZlib6, kZlib6.size() * 7), 0, 0, 0,
                false, false, 1024}),
    [](const auto& info) { return info.param.label; });

struct FitCase {
  const char* label;
  CentralEntry entry;
  bool fits;
};

class FitsInMemoryTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitsInMemoryTest, TakesOnlyStoredAndDeflatedEntriesWithinTheLimit) {
  EXPECT_EQ(FitsInMemory(GetParam().entry, 1000), GetParam().fits);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, FitsInMemoryTest,
    ::testing::Values(
        FitCase{"Deflated", {.compressedSize = 300, .uncompressedSize = 1000, .method = 8}, true},
        FitCase{"Stored", {.compressedSize = 1000, .uncompressedSize = 1000, .method = 0}, true},
        FitCase{"TooLarge", {.compressedSize = 30, .uncompressedSize = 1001, .method = 8}, false},
        FitCase{"StoredSizesDisagree",
                {.compressedSize = 999, .uncompressedSize = 1000, .method = 0},
                false},
        FitCase{"CompressedFarLarger",
                {.compressedSize = 1u << 30, .uncompressedSize = 10, .method = 8},
                false},
        FitCase{"Bzip2", {.compressedSize = 30, .uncompressedSize = 100, .method = 12}, false},
        FitCase{"Encrypted",
                {.compressedSize = 30, .uncompressedSize = 100, .flags = 1, .method = 8},
                false}),
    [](const auto& info) { return info.param.label; });

TEST(Crc32Test, MatchesTheZipChecksumAcrossPieces) {
  std::string text = Text(10000);
  std::uint32_t whole = ZipCrc32(text);
  EXPECT_EQ(whole, testing::Crc32(text));
  std::uint32_t first = ZipCrc32(std::string_view(text).substr(0, 4321));
  EXPECT_EQ(ZipCrc32(std::string_view(text).substr(4321), first), whole);
}

}  // namespace
}  // namespace zipdrop
