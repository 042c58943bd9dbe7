#include "platform/posix/extractor/central_directory.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <limits>

#include "platform/posix/extractor/entry_layout.h"
#include "platform/posix/extractor/extra_fields.h"
#include "platform/posix/unique_fd.h"
#include "tests/posix/scratch_folder.h"
#include "tests/posix/zip_builder.h"
#include "zipdrop/extractor/extractor_error.h"

namespace zipdrop {
namespace {

using testing::ZipBuilder;
using testing::ZipLayout;

class CentralDirectoryTest : public ::testing::Test {
 protected:
  CentralDirectory Read(const ZipBuilder& zip) {
    WriteBytes(zip.Build());
    return ReadCentralDirectory(fd_.Get());
  }
  void WriteBytes(const std::string& bytes) {
    ZipBuilder::WriteBytes(path_, bytes);
    fd_ = UniqueFd(open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd_.Valid());
  }

  testing::ScratchFolder scratch_;
  std::string path_ = scratch_ / "a.zip";
  UniqueFd fd_;
};

TEST_F(CentralDirectoryTest, ReadsEveryFieldOfEachEntry) {
  ZipBuilder zip;
  zip.Add({.name = "ユニ.txt", .data = "hello", .flags = testing::kFlagUtf8, .unixMode = 0100640});
  zip.Add({.name = "dir/", .dosAttributes = 0x10, .host = 11});
  zip.Add({.name = "raw",
           .data = "secret!",
           .flags = testing::kFlagEncrypted,
           .method = 9,
           .unicodePath = "名前",
           .crc = 0x12345678});
  CentralDirectory directory = Read(zip);
  ASSERT_EQ(directory.entries.size(), 3u);
  const CentralEntry& file = directory.entries[0];
  EXPECT_EQ(directory.NameOf(file), "ユニ.txt");
  EXPECT_TRUE(file.HasUtf8Name() && !file.IsEncrypted() && file.HasUnixMode());
  EXPECT_EQ(file.crc, testing::Crc32("hello"));
  EXPECT_EQ(file.compressedSize, 5u);
  EXPECT_EQ(file.uncompressedSize, 5u);
  EXPECT_EQ(file.externalAttributes >> 16, 0100640u);
  EXPECT_EQ(file.localHeaderOffset, 0u);
  const CentralEntry& folder = directory.entries[1];
  EXPECT_EQ(folder.host, 11);
  EXPECT_FALSE(folder.HasUnixMode());
  EXPECT_EQ(folder.externalAttributes, 0x10u);
  EXPECT_EQ(folder.localHeaderOffset, 30u + file.nameLength + 5);
  const CentralEntry& raw = directory.entries[2];
  EXPECT_TRUE(raw.IsEncrypted());
  EXPECT_EQ(directory.NameOf(raw), "名前");  // The Unicode path field, its CRC matching.
  EXPECT_EQ(raw.method, 9);
  EXPECT_EQ(raw.crc, 0x12345678u);
  EXPECT_EQ(directory.DeclaredTotalSize(), 12u);
}

TEST_F(CentralDirectoryTest, ReadsZip64RecordsAndFields) {
  ZipBuilder zip;
  zip.Add({.name = "big", .data = "x", .uncompressedSize = 5ull << 40}).AddFile("small", "s");
  CentralDirectory directory = Read(zip.Layout({.zip64End = true}));
  ASSERT_EQ(directory.entries.size(), 2u);
  EXPECT_EQ(directory.entries[0].uncompressedSize, 5ull << 40);
  EXPECT_EQ(directory.entries[0].compressedSize, 1u);
  EXPECT_EQ(directory.DeclaredTotalSize(), (5ull << 40) + 1);
}

TEST_F(CentralDirectoryTest, SaturatesTheDeclaredTotal) {
  ZipBuilder zip;
  zip.Add({.name = "a", .uncompressedSize = 1ull << 63})
      .Add({.name = "b", .uncompressedSize = 1ull << 63});
  EXPECT_EQ(Read(zip).DeclaredTotalSize(), std::numeric_limits<std::uint64_t>::max());
}

// Leading bytes shift every offset the archive states; the real positions are found from where
// the central directory ends, and entries come sorted by where their local headers are.
TEST_F(CentralDirectoryTest, AdjustsForLeadingBytesAndSortsByOffset) {
  ZipBuilder zip;
  zip.AddFile("first", "1").AddFile("second", "22").AddFile("third", "333");
  CentralDirectory directory = Read(zip.Layout({.prefix = "stub!", .reverseCentral = true}));
  EXPECT_EQ(directory.prefixLength, 5u);
  ASSERT_EQ(directory.entries.size(), 3u);
  EXPECT_EQ(directory.NameOf(directory.entries[0]), "first");
  EXPECT_EQ(directory.NameOf(directory.entries[2]), "third");
  EXPECT_EQ(directory.entries[0].localHeaderOffset, 5u);
  ASSERT_EQ(CheckEntryLayout(fd_.Get(), directory), LayoutProblem::kNone);
  EXPECT_EQ(directory.entries[1].dataOffset, 5u + 30 + 5 + 1 + 30 + 6);
}

struct ToleranceCase {
  const char* label;
  std::function<void(std::string& bytes, std::size_t endRecord)> damage;
};

class ToleranceTest : public CentralDirectoryTest,
                      public ::testing::WithParamInterface<ToleranceCase> {};

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

// The second entry's offset points into the first local header; the entries are then found by
// their local headers.
void PointSecondEntryIntoTheFirst(std::string& bytes, std::size_t) {
  Put16(bytes, bytes.find("PK\1\2", bytes.find("PK\1\2") + 1) + 42, 7);
}

// Stored sizes of 5 for the first entry's 1 byte would run over the next local header; the local
// header's sizes fit.
void OverstateFirstSizes(std::string& bytes, std::size_t) {
  Put16(bytes, bytes.find("PK\1\2") + 20, 5);
  Put16(bytes, bytes.find("PK\1\2") + 24, 5);
}

// What real writers get wrong in the end record and the extra fields; every entry is still found
// where it is.
TEST_P(ToleranceTest, FindsEveryEntry) {
  ZipBuilder zip;
  zip.Add({.name = "one", .data = "1", .mtime = 1000000000}).AddFile("two", "22");
  zip.AddFile("three", "333");
  std::string bytes = zip.Build();
  GetParam().damage(bytes, bytes.size() - 22);
  WriteBytes(bytes);
  CentralDirectory directory = ReadCentralDirectory(fd_.Get());
  ASSERT_EQ(directory.entries.size(), 3u);
  EXPECT_EQ(directory.NameOf(directory.entries[2]), "three");
  EXPECT_EQ(directory.prefixLength, 0u);
  EXPECT_EQ(CheckEntryLayout(fd_.Get(), directory), LayoutProblem::kNone);
  EXPECT_EQ(directory.entries[1].dataOffset, 30u + 3 + 9 + 1 + 30 + 3);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, ToleranceTest,
    ::testing::Values(
        ToleranceCase{"CountTooHigh", [](std::string& b, std::size_t e) { Put16(b, e + 10, 9); }},
        ToleranceCase{"CountTooLow", [](std::string& b, std::size_t e) { Put16(b, e + 10, 1); }},
        ToleranceCase{"CountsDisagree", [](std::string& b, std::size_t e) { Put16(b, e + 8, 7); }},
        ToleranceCase{
            "DiskNumbersSet",
            [](std::string& b, std::size_t e) { Put16(b, e + 4, 1), Put16(b, e + 6, 1); }},
        ToleranceCase{"SizeOff", [](std::string& b, std::size_t e) { Put16(b, e + 12, 200); }},
        ToleranceCase{"OffsetOff", [](std::string& b, std::size_t e) { Put16(b, e + 16, 7); }},
        ToleranceCase{
            "SizeAndOffsetOff",
            [](std::string& b, std::size_t e) { Put16(b, e + 12, 5), Put16(b, e + 16, 3); }},
        ToleranceCase{"CommentLengthPastTheFile",
                      [](std::string& b, std::size_t e) { Put16(b, e + 20, 500); }},
        ToleranceCase{"DamagedSignature", [](std::string& b, std::size_t e) { b[e + 3] = 7; }},
        // The extended timestamp's own length runs past the entry's extra fields.
        ToleranceCase{"ExtraFieldRunsPastItsArea",
                      [](std::string& b, std::size_t) { b[b.rfind("UT\x05") + 2] = 9; }},
        ToleranceCase{"OffsetPointsAtNoHeader", PointSecondEntryIntoTheFirst},
        ToleranceCase{"CentralStoredSizesPastTheNextHeader", OverstateFirstSizes}),
    [](const auto& info) { return info.param.label; });

// Every reader of extra fields goes through one walker: a field whose length runs past the end is
// cut there, so the fields before it and what there is of it are still read.
TEST(ExtraFieldReaderTest, CutsAFieldThatRunsPastTheEnd) {
  std::string fields("\1\0\2\0abUT\11\0xyz", 13);  // Zip64 of 2 bytes; a timestamp claiming 9.
  ExtraFieldReader reader(fields);
  std::optional<ExtraField> first = reader.Next(), second = reader.Next();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->tag, kExtraZip64);
  EXPECT_EQ(first->data, "ab");
  EXPECT_EQ(second->tag, kExtraTimestamp);
  EXPECT_EQ(second->data, "xyz");
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(ExtraFieldReader::Find(fields, kExtraTimestamp), "xyz");
  EXPECT_FALSE(ExtraFieldReader::Find(fields.substr(0, 3), kExtraZip64));
}

TEST_F(CentralDirectoryTest, ThrowsWhereNoCentralDirectoryParses) {
  for (const std::string& bytes : {std::string(), std::string("PK\5\6"), std::string(5000, 'z'),
                                   ZipBuilder().AddFile("a", "a").Build().substr(0, 20)}) {
    WriteBytes(bytes);
    EXPECT_THROW(ReadCentralDirectory(fd_.Get()), ExtractorError) << bytes.size();
  }
}

// An entry without a local header gives way to the entries the local headers still hold, and the
// rest is lost, named from the central directory, which counts them all; with no local header at
// all, nothing can be recovered.
TEST_F(CentralDirectoryTest, FindsEntriesWithoutALocalHeader) {
  std::string bytes = ZipBuilder().AddFile("a", "a").AddFile("b", "b").Build();
  bytes[32] = 'X';  // The second local header's signature.
  WriteBytes(bytes);
  CentralDirectory directory = ReadCentralDirectory(fd_.Get());
  EXPECT_EQ(CheckEntryLayout(fd_.Get(), directory), LayoutProblem::kNone);
  ASSERT_EQ(directory.entries.size(), 1u);
  EXPECT_EQ(directory.NameOf(directory.entries[0]), "a");
  EXPECT_EQ(directory.lostNames, std::vector<std::string>{"b"});
  EXPECT_FALSE(directory.damaged);
  bytes[0] = 'X';
  WriteBytes(bytes);
  directory = ReadCentralDirectory(fd_.Get());
  EXPECT_EQ(CheckEntryLayout(fd_.Get(), directory), LayoutProblem::kMissingLocalHeader);
}

// The table stays small (100,000 entries cost a few megabytes), and counts past 65,535 come from
// the zip64 end record.
TEST_F(CentralDirectoryTest, KeepsEntriesCompactPastSixteenBitCounts) {
  EXPECT_LE(sizeof(CentralEntry), 64u);
  ZipBuilder zip;
  char name[16];
  for (int i = 0; i < 70000; ++i) {
    std::snprintf(name, sizeof name, "f%d", i);
    zip.AddFile(name, "");
  }
  CentralDirectory directory = Read(zip);
  EXPECT_EQ(directory.entries.size(), 70000u);
  EXPECT_EQ(directory.NameOf(directory.entries[69999]), "f69999");
}

}  // namespace
}  // namespace zipdrop
