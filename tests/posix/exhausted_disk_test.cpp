// The extractor on a disk that fills up: a small tmpfs mounted by the test itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/posix/extractor/beneath.h"
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

const std::size_t kPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
constexpr std::size_t kPages = 12;

// tmpfs charges whole pages: a file of 100 bytes takes one page of the size limit. That is how a
// disk fills although the archive's declared sizes fit, as on any file system with blocks.
class ExhaustedDiskTest : public testing::ExtractorFixture {
 protected:
  void SetUp() override {
    ExtractorFixture::SetUp();
    disk_.emplace(out_, kPages * kPage);
    if (!disk_->Mounted()) {
      GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk_->Error()
                   << "); mounting needs root or CAP_SYS_ADMIN";
    }
  }
  void TearDown() override {
    disk_.reset();
    ExtractorFixture::TearDown();
  }

  std::optional<testing::TmpfsMount> disk_;
};

class FillingDiskTest : public ExhaustedDiskTest, public ::testing::WithParamInterface<bool> {};

// Eight small files take eight pages; the big file needs six more but only four are left, so the
// disk fills in the middle of it. Its partial file goes, the small files stay, and the entries
// after it are not attempted; with a named temporary file as without O_TMPFILE, too.
TEST_P(FillingDiskTest, KeepsWhatWasWrittenAndRemovesThePartialFile) {
  ForceFallbacks({.namedTemporary = GetParam()});
  ZipBuilder zip;
  std::vector<std::string> small;
  for (int i = 0; i < 8; ++i) {
    small.push_back("small" + std::to_string(i));
    zip.AddFile(small.back(), std::string(100, static_cast<char>('a' + i)));
  }
  zip.AddFile("big.bin", std::string(6 * kPage, 'B')).AddFile("later.txt", "l");
  zip.AddFolder("later/");
  ExtractionReport report = Extract(zip);
  ASSERT_FALSE(report.refusal.has_value()) << DescribeSkipped(report);
  EXPECT_EQ(report.filesWritten, 8u);
  EXPECT_EQ(report.SkippedFor(SkipReason::kDiskFull), 3u);
  EXPECT_EQ(Extracted(), small);
  EXPECT_EQ(ReadFile(out_ / "small7"), std::string(100, 'h'));
  std::string text = DescribeSkipped(report);
  EXPECT_NE(text.find("ディスクの空き容量不足"), std::string::npos) << text;
  EXPECT_NE(text.find("(big.bin, later.txt, later/)"), std::string::npos) << text;
}

// Two workers stream into the disk at once: the one cut short because the other filled the disk
// counts its entry as not extracted for lack of space, like the one that met the full disk.
TEST_P(FillingDiskTest, CountsAnEntryCutShortByAnotherWorkerAsDiskFull) {
  ForceFallbacks({.namedTemporary = GetParam()});
  ZipBuilder zip;
  for (char c = 'a'; c < 'i'; ++c) zip.AddFile(std::string(1, c), std::string(kPage + 1, c));
  zip.WriteTo(archive_);
  ExtractionReport report =
      ExtractZipArchive(archive_, out_.string(), {.workers = 2, .inMemoryLimit = 0});
  EXPECT_EQ(report.filesWritten + report.SkippedFor(SkipReason::kDiskFull), 8u)
      << DescribeSkipped(report);
}

INSTANTIATE_TEST_SUITE_P(NamedTemporary, FillingDiskTest, ::testing::Bool());

// When the declared sizes alone exceed the free space, nothing is written at all.
TEST_F(ExhaustedDiskTest, RefusesAnArchiveWhoseDeclaredSizesCannotFit) {
  testing::WriteLibarchiveZip(archive_, {{"fits.txt", "f"}, {"zeros", std::string(kPages * kPage, '\0')}});
  ExtractionReport report = ExtractZipArchive(archive_, out_.string());
  ASSERT_TRUE(report.refusal.has_value());
  EXPECT_EQ(report.refusal->reason, RefusalReason::kNotEnoughSpace);
  EXPECT_EQ(report.refusal->bytesNeeded, kPages * kPage + 1);
  EXPECT_EQ(report.refusal->bytesFree, kPages * kPage);
  EXPECT_TRUE(Extracted().empty());
}

}  // namespace
}  // namespace zipdrop
