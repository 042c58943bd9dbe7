#include "platform/posix/extractor/deflate_decoder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libdeflate.h>

#include <string>

#include "platform/posix/extractor/zip_records.h"
#include "platform/posix/unique_fd.h"
#include "tests/posix/scratch_folder.h"
#include "tests/posix/zip_builder.h"

namespace zipdrop {
namespace {

constexpr std::uint64_t kOffset = 7;  // The data never starts at the file's first byte.

std::string Deflate(const std::string& plain) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
  std::string out(libdeflate_deflate_compress_bound(compressor, plain.size()), '\0');
  out.resize(libdeflate_deflate_compress(compressor, plain.data(), plain.size(), out.data(),
                                         out.size()));
  libdeflate_free_compressor(compressor);
  return out;
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
  std::string raw;               // What lies in the file at the entry's data offset.
  std::int64_t sizeChange = 0;   // Added to the declared uncompressed size.
  std::uint32_t crcChange = 0;   // XORed into the declared CRC.
  std::int64_t rawChange = 0;    // Added to the declared compressed size.
  bool decodes;
};

class InMemoryDecoderTest : public ::testing::TestWithParam<RawCase> {
 protected:
  testing::ScratchFolder scratch_;
};

TEST_P(InMemoryDecoderTest, GivesExactlyTheDeclaredContentOrNothing) {
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
  InMemoryDecoder decoder(fd.Get());
  std::optional<std::span<const char>> content = decoder.Decode(entry);
  ASSERT_EQ(content.has_value(), c.decodes);
  if (c.decodes) {
    EXPECT_EQ(std::string(content->begin(), content->end()), c.plain);
  }
  // The decoder's buffers are reused: a second, smaller entry must not see the first's bytes.
  testing::ZipBuilder::WriteBytes(path, std::string(kOffset, 'P') + Deflate("ab"));
  CentralEntry small{.dataOffset = kOffset, .compressedSize = Deflate("ab").size(),
                     .uncompressedSize = 2, .crc = testing::Crc32("ab"), .method = 8};
  content = decoder.Decode(small);
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(std::string(content->begin(), content->end()), "ab");
}

const std::string kText = Text(300000);

INSTANTIATE_TEST_SUITE_P(
    Entries, InMemoryDecoderTest,
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
        RawCase{"RunsPastTheFile", 8, kText, Deflate(kText), 0, 0, 1000, false},
        RawCase{"NotDeflate", 8, kText, std::string(5000, '\xff'), 0, 0, 0, false}),
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
                {.compressedSize = 999, .uncompressedSize = 1000, .method = 0}, false},
        FitCase{"CompressedFarLarger",
                {.compressedSize = 1u << 30, .uncompressedSize = 10, .method = 8}, false},
        FitCase{"Bzip2", {.compressedSize = 30, .uncompressedSize = 100, .method = 12}, false},
        FitCase{"Encrypted",
                {.compressedSize = 30, .uncompressedSize = 100, .flags = 1, .method = 8}, false}),
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
