// The extractor against archives that are damaged, encrypted, oddly named or not archives at all.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/ui/skip_summary.h"
#include "tests/posix/extractor_fixture.h"
#include "tests/posix/zip_builder.h"
#include "zipdrop/extractor/extractor_error.h"
#include "zipdrop/extractor/zip_extractor.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ZipBuilder;
using testing::ZipEntrySpec;

using ExtractorFaultTest = testing::ExtractorFixture;

struct NameCase {
  const char* label;
  ZipEntrySpec entry;
  std::string expected;
};

class ExtractedNameTest : public ExtractorFaultTest,
                          public ::testing::WithParamInterface<NameCase> {};

TEST_P(ExtractedNameTest, ArrivesUnderItsIntendedName) {
  ZipBuilder().Add(GetParam().entry).WriteTo(archive_);
  ExtractionReport report = ExtractZipArchive(archive_, out_);
  EXPECT_TRUE(report.skipped.empty()) << DescribeSkipped(report);
  EXPECT_TRUE(fs::is_regular_file(out_ / GetParam().expected))
      << ::testing::PrintToString(Extracted());
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, ExtractedNameTest,
    ::testing::Values(
        NameCase{"Utf8Flagged",
                 {.name = "日本語/テスト.txt", .flags = testing::kFlagUtf8},
                 "日本語/テスト.txt"},
        NameCase{"Cp932FromJapaneseWindows",
                 {.name = "\x93\xfa\x96\x7b\x8c\xea\x83\x74\x83\x48\x83\x8b\x83\x5f\\"
                          "\x83\x65\x83\x58\x83\x67.txt"},
                 "日本語フォルダ/テスト.txt"},
        NameCase{"Cp932BackslashTrailByte",
                 {.name = "\x83\x5c\x83\x74\x83\x67/\x95\x5c.txt"},
                 "ソフト/表.txt"},
        NameCase{"Cp437",
                 {.name = "\x80"
                          "a\x9a.txt"},
                 "ÇaÜ.txt"},
        NameCase{"NeitherUtf8NorCp932", {.name = "\xff\xfe\x80"}, "\u00a0■Ç"},
        // Names are never normalised: a decomposed name arrives decomposed.
        NameCase{"DecomposedUtf8",
                 {.name = "\xe3\x81\x8b\xe3\x82\x99.txt", .flags = testing::kFlagUtf8},
                 "\xe3\x81\x8b\xe3\x82\x99.txt"},
        // Some Japanese tools set the UTF-8 flag on CP932 names; invalid UTF-8 falls through.
        NameCase{
            "Cp932UnderUtf8Flag", {.name = "\x95\x5c.txt", .flags = testing::kFlagUtf8}, "表.txt"},
        NameCase{"InvalidUtf8UnderUtf8Flag",
                 {.name = "bad\xff", .flags = testing::kFlagUtf8},
                 "bad\u00a0"},
        NameCase{"UnicodePathField", {.name = "raw.txt", .unicodePath = "名前.txt"}, "名前.txt"},
        NameCase{"UnicodePathFieldWithWrongCrc",
                 {.name = "raw.txt", .unicodePath = "名前.txt", .unicodePathCrcMatches = false},
                 "raw.txt"}),
    [](const auto& info) { return info.param.label; });

struct FaultCase {
  const char* label;
  ZipEntrySpec entry;
  SkipReason reason;
  bool laterEntriesRead;
};

class FaultyEntryTest : public ExtractorFaultTest,
                        public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultyEntryTest, LeavesNoFileAndNoTemporaryFile) {
  ZipBuilder()
      .AddFile("before.txt", "b")
      .Add(GetParam().entry)
      .AddFile("after.txt", "a")
      .WriteTo(archive_);
  ExtractionReport report = ExtractZipArchive(archive_, out_);
  EXPECT_EQ(report.SkippedFor(GetParam().reason), 1u) << DescribeSkipped(report);
  std::vector<std::string> expected{"before.txt"};
  if (GetParam().laterEntriesRead) expected.insert(expected.begin(), "after.txt");
  EXPECT_EQ(Extracted(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultyEntryTest,
    ::testing::Values(FaultCase{"BadCrc",
                                {.name = "f", .data = "hello", .crc = 1},
                                SkipReason::kUnreadableData,
                                true},
                      FaultCase{"UnsupportedMethod",
                                {.name = "f", .data = "xx", .method = 9},
                                SkipReason::kUnreadableData,
                                true},
                      FaultCase{"EncryptedFlag",
                                {.name = "f", .data = "0123456789abcdef", .flags = 1},
                                SkipReason::kEncrypted,
                                true},
                      // A stored entry whose sizes understate its data: the reader stops at the
                      // declared size and the CRC of what it read cannot match.
                      FaultCase{"StoredSizeUnderstated",
                                {.name = "f", .data = "hello world", .size = 5},
                                SkipReason::kUnreadableData,
                                true}),
    [](const auto& info) { return info.param.label; });

struct EncryptionCase {
  const char* label;
  const char* options;
};

class EncryptedArchiveTest : public ExtractorFaultTest,
                             public ::testing::WithParamInterface<EncryptionCase> {};

// Encrypted entries are skipped and reported, whatever the cipher: no password can be asked for,
// and nothing half-decrypted may be left.
TEST_P(EncryptedArchiveTest, SkipsEncryptedEntries) {
  testing::WriteLibarchiveZip(archive_, {{"secret.txt", "secret"}, {"other.txt", "other"}},
                              GetParam().options, "password");
  ExtractionReport report = ExtractZipArchive(archive_, out_);
  EXPECT_EQ(report.SkippedFor(SkipReason::kEncrypted), 2u) << DescribeSkipped(report);
  EXPECT_TRUE(Extracted().empty());
}

INSTANTIATE_TEST_SUITE_P(Ciphers, EncryptedArchiveTest,
                         ::testing::Values(EncryptionCase{"ZipCrypto",
                                                          "zip:encryption=traditional"},
                                           EncryptionCase{"Aes256", "zip:encryption=aes256"}),
                         [](const auto& info) { return info.param.label; });

// An entry whose central directory understates its size must be stopped at that size rather
// than allowed to fill the disk.
TEST_F(ExtractorFaultTest, StopsDataThatGrowsPastItsDeclaredSize) {
  // Large enough that the reader hands over data before it checks the size at the end itself.
  testing::WriteLibarchiveZip(archive_, {{"bomb.txt", std::string(4 << 20, 'z')}});
  std::string bytes = ZipBuilder::ReadBytes(archive_);
  size_t central = bytes.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  const std::string declared("\x10\0\0\0", 4);  // 16 bytes, in both headers alike.
  bytes.replace(22, 4, declared);
  bytes.replace(central + 24, 4, declared);
  ZipBuilder::WriteBytes(archive_, bytes);
  // Also with the data decoded ahead on a second thread, which the writer leaves mid-stream.
  for (const ExtractionTuning& tuning :
       {ExtractionTuning{}, ExtractionTuning{.workers = 1, .readAheadSize = 0}}) {
    ExtractionReport report = ExtractZipArchive(archive_, out_, tuning);
    EXPECT_EQ(report.SkippedFor(SkipReason::kTooLarge), 1u) << DescribeSkipped(report);
    EXPECT_TRUE(Extracted().empty());
  }
}

struct CutCase {
  std::int64_t cut;  // Bytes kept; negative counts from the end.
  std::vector<std::string> kept;
  std::uint64_t lost;              // Entries counted as lost with the damage,
  std::vector<std::string> names;  // named where their names could be read,
  bool moreMayBeLost;              // and whether the count is only the least number.
};

class TruncatedArchiveTest : public ExtractorFaultTest,
                             public ::testing::WithParamInterface<CutCase> {};

// A download cut short loses the end of the file, and with it the central directory: the entries
// whose data is whole are recovered from their local headers, the one cut short is counted as
// lost (named when its name is still there), the count says that more may have followed, and no
// partial file is left.
TEST_P(TruncatedArchiveTest, KeepsTheWholeEntriesAndCountsTheLost) {
  ZipBuilder()
      .AddFile("one.txt", std::string(5000, 'x'))
      .AddFile("two.txt", "y")
      .Add({.name = "three.txt", .data = "z", .mtime = 0})  // Its local header has an extra field.
      .WriteTo(archive_);
  std::int64_t cut = GetParam().cut;
  fs::resize_file(archive_,
                  cut >= 0 ? cut : static_cast<std::int64_t>(fs::file_size(archive_)) + cut);
  EXPECT_TRUE(OpenZipArchive(archive_).has_value());
  ExtractionReport report = ExtractZipArchive(archive_, out_);
  EXPECT_EQ(Extracted(), GetParam().kept);
  ExtractionReport::Skipped lost{SkipReason::kArchiveDamaged, 0, {}};
  for (const ExtractionReport::Skipped& s : report.skipped) {
    if (s.reason == SkipReason::kArchiveDamaged) lost = s;
  }
  EXPECT_EQ(lost.count, GetParam().lost) << DescribeSkipped(report);
  EXPECT_EQ(lost.names, GetParam().names);
  EXPECT_EQ(lost.moreMayBeLost, GetParam().moreMayBeLost);
}

// The local headers start at 0, 5037 and 5075 (the third one's name ends at 5114, its data starts
// at 5123); the central directory follows at 5124.
INSTANTIATE_TEST_SUITE_P(
    Cuts, TruncatedArchiveTest,
    ::testing::Values(CutCase{3000, {}, 1, {"one.txt"}, true},  // In the first entry's data.
                      CutCase{5037, {"one.txt"}, 0, {}, true},  // Right after an entry.
                      CutCase{5040, {"one.txt"}, 0, {}, true},  // In a signature.
                      CutCase{5050, {"one.txt"}, 1, {}, true},  // Before the second name.
                      CutCase{5074, {"one.txt"}, 1, {"two.txt"}, true},
                      CutCase{5118, {"one.txt", "two.txt"}, 1, {"three.txt"}, true},  // Extra.
                      CutCase{5123, {"one.txt", "two.txt"}, 1, {"three.txt"}, true},
                      CutCase{-10, {"one.txt", "three.txt", "two.txt"}, 0, {}, false},
                      CutCase{-60, {"one.txt", "three.txt", "two.txt"}, 0, {}, false}));

TEST_F(ExtractorFaultTest, ThrowsWhenTheArchiveOrTheFolderCannotBeOpened) {
  ZipBuilder().AddFile("x", "x").WriteTo(archive_);
  EXPECT_THROW(ExtractZipArchive(archive_, (root_ / "missing").string()), ExtractorError);
  EXPECT_THROW(ExtractZipArchive((root_ / "missing.zip").string(), out_), ExtractorError);
  ZipBuilder::WriteBytes(archive_, "not an archive");
  EXPECT_THROW(ExtractZipArchive(archive_, out_), ExtractorError);
}

TEST_F(ExtractorFaultTest, OpensArchivesAndNothingElse) {
  ZipBuilder().AddFile("x", "x").WriteTo(archive_);
  EXPECT_TRUE(OpenZipArchive(archive_).has_value());
  ZipBuilder().WriteTo(archive_);
  EXPECT_TRUE(OpenZipArchive(archive_).has_value());
  EXPECT_TRUE(ExtractZipArchive(archive_, out_).skipped.empty());
  ZipBuilder::WriteBytes(archive_, "PK\x03\x04 but nothing more");
  EXPECT_FALSE(OpenZipArchive(archive_).has_value());
  EXPECT_FALSE(OpenZipArchive(out_).has_value());
  EXPECT_FALSE(OpenZipArchive((root_ / "missing.zip").string()).has_value());
}

// The archive opened is the one extracted, even when another file has taken its name since, and
// it can be extracted more than once.
TEST_F(ExtractorFaultTest, ExtractsTheArchiveItOpenedWhateverHasItsNameNow) {
  ZipBuilder().AddFile("x", "from the opened archive").WriteTo(archive_);
  std::optional<ZipArchive> opened = OpenZipArchive(archive_);
  ASSERT_TRUE(opened.has_value());
  ZipBuilder().AddFile("y", "from the file put in its place").WriteTo(archive_ + ".new");
  fs::rename(archive_ + ".new", archive_);
  EXPECT_TRUE(ExtractZipArchive(*opened, out_).skipped.empty());
  fs::remove(fs::path(out_) / "x");
  EXPECT_TRUE(ExtractZipArchive(*opened, out_).skipped.empty());
  EXPECT_EQ(Extracted(), std::vector<std::string>{"x"});
}

TEST(DescribeSkippedTest, GivesEachReasonItsOwnLineWithCountAndNames) {
  ExtractionReport report;
  std::vector<std::string> lines;
  for (int r = 0; r <= static_cast<int>(SkipReason::kArchiveDamaged); ++r) {
    report = ExtractionReport();
    report.Skip(static_cast<SkipReason>(r), "name\x1b");
    std::string text = DescribeSkipped(report);
    EXPECT_EQ(text.rfind("zipdrop: 1 件を展開しませんでした\n", 0), 0u) << text;
    EXPECT_NE(text.find("name\\x1B"), std::string::npos) << text;
    lines.push_back(text);
  }
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(std::unique(lines.begin(), lines.end()), lines.end()) << "two reasons share a text";
}

TEST(DescribeSkippedTest, CountsEveryEntryButNamesOnlyTheFirstFew) {
  ExtractionReport report;
  for (int i = 0; i < 7; ++i) report.Skip(SkipReason::kLeavesFolder, "../" + std::to_string(i));
  report.Skip(SkipReason::kLink, "lnk");
  std::string text = DescribeSkipped(report);
  EXPECT_NE(text.find("8 件を展開しませんでした"), std::string::npos) << text;
  EXPECT_NE(text.find(": 7 件 (../0, ../1, ../2, ../3, ../4, …)"), std::string::npos) << text;
  EXPECT_NE(text.find(": 1 件 (lnk)\n"), std::string::npos) << text;
}

TEST(DescribeSkippedTest, ARefusalIsOneLineThatSaysWhy) {
  ExtractionReport report;
  report.Skip(SkipReason::kLink, "never shown beside a refusal");
  report.refusal =
      Refusal{RefusalReason::kNotEnoughSpace, (3ull << 30) + (100ull << 20), 1536 << 10};
  EXPECT_EQ(DescribeSkipped(report),
            "zipdrop: アーカイブを展開しませんでした: 展開に 3.1 GB 必要ですが、空きは 1.5 MB "
            "しかありません\n");
  report.refusal = Refusal{RefusalReason::kOverlappingEntries};
  EXPECT_NE(DescribeSkipped(report).find("zip 爆弾"), std::string::npos);
  report.refusal = Refusal{RefusalReason::kNotEnoughSpace, 1000, 10};
  EXPECT_NE(DescribeSkipped(report).find("展開に 1000 バイト 必要"), std::string::npos);
}

}  // namespace
}  // namespace zipdrop
