// The extractor against archives made to do harm: hostile names, links, clashes, lying headers,
// unusual layouts, special files and zip bombs. Every archive is generated here, byte by byte.
// Cases already covered by zip_extractor_test.cpp and zip_extractor_faults_test.cpp (traversal
// names, link entries, existing files, bad CRCs, encodings, encryption) are not repeated.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/posix/ui/skip_summary.h"
#include "tests/posix/extractor_fixture.h"
#include "tests/posix/tmpfs_mount.h"
#include "tests/posix/zip_builder.h"
#include "zipdrop/extractor/zip_extractor.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ZipBuilder;
using testing::ZipEntrySpec;
using testing::ZipLayout;

using HostileArchiveTest = testing::ExtractorFixture;

struct NameCase {
  const char* label;
  std::string name;
  SkipReason reason;
};

class HostileNameTest : public HostileArchiveTest,
                        public ::testing::WithParamInterface<NameCase> {};

// The entry is refused under its own reason, and the walk goes on to the entry after it.
TEST_P(HostileNameTest, IsRefusedAndTheNextEntryStillArrives) {
  ExtractionReport report =
      Extract(ZipBuilder().AddFile(GetParam().name, "evil").AddFile("ok", "ok"));
  EXPECT_EQ(report.SkippedFor(GetParam().reason), 1u) << DescribeSkipped(report);
  EXPECT_EQ(Extracted(), std::vector<std::string>{"ok"});
  EXPECT_EQ(DescribeSkipped(report).find('\x1b'), std::string::npos);
}

std::string LongPath() {
  std::string path;
  for (int i = 0; i < 20; ++i) path += std::string(250, 'd') + "/";
  return path + "f";
}

INSTANTIATE_TEST_SUITE_P(
    Names, HostileNameTest,
    ::testing::Values(
        NameCase{"OnlySlashes", "///", SkipReason::kLeavesFolder},
        NameCase{"OnlyDotsAndSlashes", ".//./.", SkipReason::kEmptyName},
        NameCase{"ComponentOverNameMax", std::string(256, 'n'), SkipReason::kUnusableName},
        NameCase{"PathOverPathMax", LongPath(), SkipReason::kUnusableName},
        NameCase{"NulByte", std::string("a\0/../../x", 10), SkipReason::kUnusableName},
        NameCase{"EscapeSequence", "esc\x1b[2J.txt", SkipReason::kUnusableName},
        NameCase{"Newline", "two\nlines", SkipReason::kUnusableName}),
    [](const auto& info) { return info.param.label; });

// A symlink entry naming another entry of the same archive is the nearest a ZIP file comes to a
// hard link; it is not created, and the file it names arrives as itself.
TEST_F(HostileArchiveTest, LinkToASiblingEntryIsNotCreated) {
  ExtractionReport report =
      Extract(ZipBuilder().AddFile("a.txt", "data").AddSymlink("b.txt", "a.txt"));
  EXPECT_EQ(report.SkippedFor(SkipReason::kLink), 1u);
  EXPECT_EQ(Extracted(), std::vector<std::string>{"a.txt"});
}

TEST_F(HostileArchiveTest, ClashingNamesNeverReplaceEachOther) {
  ZipBuilder zip;
  zip.AddFile("Readme.txt", "mixed").AddFile("README.TXT", "upper");  // Distinct names here.
  zip.AddFile("x", "file").AddFile("x/y", "under a file");
  zip.AddFolder("d/").AddFile("d", "file over a folder");
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(ReadFile(out_ / "Readme.txt"), "mixed");
  EXPECT_EQ(ReadFile(out_ / "README.TXT"), "upper");
  EXPECT_EQ(ReadFile(out_ / "x"), "file");
  EXPECT_TRUE(fs::is_directory(out_ / "d"));
  EXPECT_EQ(report.SkippedFor(SkipReason::kBlockedPath), 1u);
  EXPECT_EQ(report.SkippedFor(SkipReason::kAlreadyExists), 1u);
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"README.TXT", "Readme.txt", "d", "x"}));
}

class CentralOrderTest : public HostileArchiveTest, public ::testing::WithParamInterface<bool> {
 protected:
  ZipBuilder& Ordered(ZipBuilder& zip) { return zip.Layout({.reverseCentral = GetParam()}); }
};

INSTANTIATE_TEST_SUITE_P(Orders, CentralOrderTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Reversed" : "Same"; });

// The central directory names the entries; a local header is read only for where the data
// starts. A local name that climbs out or differs is never the one written, in whatever order the
// central directory lists the entries.
TEST_P(CentralOrderTest, TakesTheCentralNameWhateverTheLocalHeaderSays) {
  ZipBuilder zip;
  zip.AddFile("a.txt", "a").Add({.name = "good.txt", .data = "evil", .localName = "../evil.txt"});
  zip.Add({.name = "same.txt", .data = "local name longer", .localName = "same.txt.exe"});
  zip.AddFile("b.txt", "b");
  ExtractionReport report = Extract(Ordered(zip));
  EXPECT_TRUE(report.skipped.empty()) << DescribeSkipped(report);
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"a.txt", "b.txt", "good.txt", "same.txt"}));
  EXPECT_EQ(ReadFile(out_ / "same.txt"), "local name longer");
  EXPECT_FALSE(fs::exists(scratch_ / "evil.txt"));
}

// Archives made on Windows carry no Unix modes: their files get 0666 and folders 0777, under the
// umask alone, like any file the user makes. A Unix mode in the same archive is still honoured.
// With no umask at all, nothing hides the difference from libarchive's own 0664 and 0775.
TEST_P(CentralOrderTest, EntriesWithoutUnixModesTakeTheUmask) {
  umask(0);
  ZipBuilder zip;
  zip.Add({.name = "dos.txt", .data = "d"});
  zip.Add({.name = "dosdir/", .dosAttributes = 0x10});
  zip.Add({.name = "ntfs.txt", .data = "n", .host = 11});
  zip.AddFile("private.txt", "p", 0100600).AddFile("shared.txt", "s", 0100664);
  ExtractionReport report = Extract(Ordered(zip));
  EXPECT_TRUE(report.skipped.empty()) << DescribeSkipped(report);
  EXPECT_EQ(ModeOf("dos.txt") & 07777, 0666u);
  EXPECT_EQ(ModeOf("dosdir") & 07777, 0777u);
  EXPECT_EQ(ModeOf("ntfs.txt") & 07777, 0666u);
  EXPECT_EQ(ModeOf("private.txt") & 07777, 0600u);
  EXPECT_EQ(ModeOf("shared.txt") & 07777, 0664u);
}

struct LayoutCase {
  const char* label;
  ZipLayout layout;
};

class ArchiveLayoutTest : public HostileArchiveTest,
                          public ::testing::WithParamInterface<LayoutCase> {};

// Whatever surrounds the entries, every one of them arrives, and nothing that only looks like an
// archive (inside the comment) is extracted in their place.
TEST_P(ArchiveLayoutTest, ExtractsTheRealEntries) {
  ZipBuilder zip;
  zip.AddFile("one.txt", "1").AddFolder("dir/").AddFile("dir/two.txt", "2");
  ExtractionReport report = Extract(zip.Layout(GetParam().layout));
  EXPECT_TRUE(report.skipped.empty() && !report.refusal) << DescribeSkipped(report);
  EXPECT_EQ(Extracted(), (std::vector<std::string>{"dir", "dir/two.txt", "one.txt"}));
  EXPECT_EQ(ReadFile(out_ / "dir/two.txt"), "2");
}

// An end record that claims an empty archive, and one that claims an entry at offset 0.
const std::string kEmptyEndRecord("PK\5\6\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22);
const std::string kBogusEndRecord("PK\5\6\0\0\0\0\1\0\1\0\56\0\0\0\0\0\0\0\0\0", 22);

INSTANTIATE_TEST_SUITE_P(
    Layouts, ArchiveLayoutTest,
    ::testing::Values(
        LayoutCase{"Plain", {}},
        LayoutCase{"SelfExtractorStub", {.prefix = "MZ" + std::string(4000, '\x90')}},
        LayoutCase{"TrailingGarbage", {.suffix = std::string(3000, 'g')}},
        LayoutCase{"EmptyEndRecordInComment", {.comment = "note " + kEmptyEndRecord}},
        LayoutCase{"BogusEndRecordInComment", {.comment = kBogusEndRecord + "tail"}},
        LayoutCase{"WholeArchiveInComment",
                   {.comment = ZipBuilder().AddFile("fake.txt", "fake").Build()}},
        LayoutCase{"Zip64EndRecord", {.zip64End = true}},
        LayoutCase{
            "EverythingAtOnce",
            {.prefix = "stub", .comment = kEmptyEndRecord, .suffix = "junk", .zip64End = true}}),
    [](const auto& info) { return info.param.label; });

struct UnixModeCase {
  const char* label;
  std::uint32_t mode;
};

class UnixModeTest : public HostileArchiveTest,
                     public ::testing::WithParamInterface<UnixModeCase> {};

// Only regular files and folders ever appear, never with setuid, setgid or sticky bits, and never
// with more permissions than the umask lets through. A device, FIFO or socket mode on an entry
// with data makes a regular file of the data.
TEST_P(UnixModeTest, OnlyPlainFilesAndFoldersAppear) {
  Extract(ZipBuilder().Add({.name = "entry", .data = "data", .unixMode = GetParam().mode}));
  mode_t mode = ModeOf("entry");
  EXPECT_EQ(S_ISDIR(mode), S_ISDIR(GetParam().mode)) << std::oct << mode;
  if (!S_ISDIR(mode)) {
    EXPECT_TRUE(S_ISREG(mode)) << std::oct << mode;
    EXPECT_EQ(ReadFile(out_ / "entry"), "data");
  }
  EXPECT_EQ(mode & 07022, 0u) << std::oct << mode;
  EXPECT_EQ(Extracted(), std::vector<std::string>{"entry"});
}

INSTANTIATE_TEST_SUITE_P(
    Modes, UnixModeTest,
    ::testing::Values(UnixModeCase{"Setuid", 0104755}, UnixModeCase{"Setgid", 0102755},
                      UnixModeCase{"WorldWritable", 0100666},
                      UnixModeCase{"StickyWorldWritableFolder", 041777},
                      UnixModeCase{"CharacterDevice", 020666}, UnixModeCase{"BlockDevice", 060660},
                      UnixModeCase{"Fifo", 010666}, UnixModeCase{"Socket", 0140777}),
    [](const auto& info) { return info.param.label; });

struct BombCase {
  const char* label;
  std::vector<ZipEntrySpec> entries;
  RefusalReason reason;
};

class ZipBombTest : public HostileArchiveTest, public ::testing::WithParamInterface<BombCase> {};

// A bomb is refused whole, before its first byte is written, in one line on standard error.
TEST_P(ZipBombTest, IsRefusedBeforeAnythingIsWritten) {
  ZipBuilder zip;
  zip.AddFile("first.txt", "written first if anything were");
  for (const ZipEntrySpec& entry : GetParam().entries) zip.Add(entry);
  ExtractionReport report = Extract(zip);
  ASSERT_TRUE(report.refusal.has_value());
  EXPECT_EQ(report.refusal->reason, GetParam().reason);
  EXPECT_EQ(report.filesWritten, 0u);
  EXPECT_TRUE(Extracted().empty());
  std::string text = DescribeSkipped(report);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

std::vector<ZipEntrySpec> SharedHeaders(int count) {
  std::vector<ZipEntrySpec> entries{{.name = "base", .data = std::string(1000, 'b')}};
  for (int i = 0; i < count; ++i) entries.push_back({.name = "base", .headerOf = 1});
  return entries;
}

INSTANTIATE_TEST_SUITE_P(
    Bombs, ZipBombTest,
    ::testing::Values(
        BombCase{"SharedLocalHeader", SharedHeaders(5), RefusalReason::kOverlappingEntries},
        // Each entry's data runs over the next entry's local header ("quoted" overlap).
        BombCase{
            "QuotedOverlap",
            {{.name = "a", .data = "x", .size = 200}, {.name = "b", .data = std::string(300, 'b')}},
            RefusalReason::kOverlappingEntries},
        BombCase{"DataRunsIntoTheCentralDirectory",
                 {{.name = "f", .data = "tiny", .size = 1000000}},
                 RefusalReason::kOverlappingEntries},
        BombCase{"DeclaredTotalOverFreeSpace",
                 {{.name = "huge", .data = "x", .uncompressedSize = 1ull << 50}},
                 RefusalReason::kNotEnoughSpace}),
    [](const auto& info) { return info.param.label; });

TEST_F(HostileArchiveTest, NotEnoughSpaceSaysHowMuchIsNeededAndFree) {
  ExtractionReport report =
      Extract(ZipBuilder().Add({.name = "huge", .data = "x", .uncompressedSize = 3ull << 50}));
  ASSERT_TRUE(report.refusal.has_value());
  EXPECT_EQ(report.refusal->bytesNeeded, 3ull << 50);
  EXPECT_LT(report.refusal->bytesFree, 3ull << 50);
  EXPECT_NE(DescribeSkipped(report).find("展開に 3.0 PB 必要ですが"), std::string::npos)
      << DescribeSkipped(report);
}

// 100,000 entries go through the directory's table and the workers; all of them arrive. On a
// tmpfs where the test may mount one, since creating 100,000 files on a real disk takes a while.
TEST_F(HostileArchiveTest, HundredThousandEmptyFilesAllArrive) {
  testing::TmpfsMount memory(out_, 0);
  ZipBuilder zip;
  char name[32];
  for (int i = 0; i < 100000; ++i) {
    std::snprintf(name, sizeof name, "d%02d/f%05d", i % 100, i);
    zip.AddFile(name, "");
  }
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(report.filesWritten, 100000u);
  EXPECT_TRUE(report.skipped.empty()) << DescribeSkipped(report);
  std::size_t files = 0;
  for (const auto& item : fs::recursive_directory_iterator(out_)) files += item.is_regular_file();
  EXPECT_EQ(files, 100000u);
  EXPECT_TRUE(fs::is_regular_file(out_ / "d99/f99999"));
}

}  // namespace
}  // namespace zipdrop
