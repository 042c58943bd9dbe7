// The extractor with several workers, with its in-memory decoding on or off, and decoding ahead
// on a second thread: whatever the tuning, the same archive gives the same tree and report.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/posix/ui/skip_summary.h"
#include "tests/posix/extractor_fixture.h"
#include "tests/posix/zip_builder.h"
#include "zipdrop/extractor/extraction_progress.h"
#include "zipdrop/extractor/zip_extractor.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ZipBuilder;
using testing::ZipEntrySpec;

struct Tuning {
  const char* label;
  ExtractionTuning tuning;
};

class ParallelExtractionTest : public testing::ExtractorFixture,
                               public ::testing::WithParamInterface<Tuning> {
 protected:
  ExtractionReport Extract(const ZipBuilder& zip) {
    zip.WriteTo(archive_);
    return ExtractZipArchive(archive_, out_.string(), GetParam().tuning);
  }

  // Every path under out, with a file's content after it: the whole tree in one comparable list.
  std::vector<std::string> Tree() const {
    std::vector<std::string> lines;
    for (const auto& item : fs::recursive_directory_iterator(out_)) {
      std::string line = fs::relative(item.path(), out_).string();
      if (item.is_regular_file()) {
        std::ifstream file(item.path(), std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        line += "=" + content.str();
      }
      lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }
};

INSTANTIATE_TEST_SUITE_P(
    Tunings, ParallelExtractionTest,
    ::testing::Values(Tuning{"OneWorker", {.workers = 1}}, Tuning{"TwoWorkers", {.workers = 2}},
                      Tuning{"FiveWorkers", {.workers = 5}},
                      Tuning{"TwoWorkersAllStreamed", {.workers = 2, .inMemoryLimit = 0}},
                      // Every entry decoded a block ahead on a second thread, where a core is
                      // spare for it.
                      Tuning{"OneWorkerReadingAhead",
                             {.workers = 1, .inMemoryLimit = 0, .readAheadSize = 0}},
                      // A large entry starts decoding ahead as soon as the other worker ends,
                      // which may fall in the middle of the entry.
                      Tuning{"TwoWorkersReadingAheadOnceOneEnds",
                             {.workers = 2, .inMemoryLimit = 0, .readAheadSize = 0}},
                      Tuning{"Chosen", {}}),
    [](const auto& info) { return info.param.label; });

// Files spread over folders in no particular order, so that workers share folders and create
// them side by side.
TEST_P(ParallelExtractionTest, WritesEveryFileWhereverTheWorkersMeet) {
  ZipBuilder zip;
  std::vector<std::string> expected;
  std::set<std::string> folders;
  for (int i = 0; i < 200; ++i) {
    std::string folder = "d" + std::to_string(i % 7) + "/e" + std::to_string(i % 3);
    std::string name = folder + "/f" + std::to_string(i);
    std::string data = std::string(i % 50, 'x') + std::to_string(i);
    zip.AddFile(name, data);
    expected.push_back(name + "=" + data);
    folders.insert(folder);
    folders.insert(folder.substr(0, 2));
  }
  expected.insert(expected.end(), folders.begin(), folders.end());
  std::sort(expected.begin(), expected.end());
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(report.filesWritten, 200u);
  EXPECT_TRUE(report.skipped.empty()) << DescribeSkipped(report);
  EXPECT_EQ(Tree(), expected);
}

// The bytes written are counted whichever worker writes them and whether the data is streamed or
// held; a run cancelled before its first entry writes nothing, not even a temporary file.
TEST_P(ParallelExtractionTest, CountsBytesWrittenAndStopsWhenCancelled) {
  ZipBuilder zip;
  std::uint64_t total = 0;
  for (int i = 0; i < 50; ++i) {
    std::string data(static_cast<std::size_t>(i) * 1000, static_cast<char>('a' + i % 26));
    zip.AddFile("f" + std::to_string(i), data);
    total += data.size();
  }
  ExtractionProgress progress;
  ExtractionTuning tuning = GetParam().tuning;
  tuning.progress = &progress;
  zip.WriteTo(archive_);
  EXPECT_EQ(ExtractZipArchive(archive_, out_.string(), tuning).filesWritten, 50u);
  EXPECT_EQ(progress.DeclaredTotal(), total);
  EXPECT_EQ(progress.Written(), total);

  std::string again = scratch_ / "again";
  fs::create_directory(again);
  ExtractionProgress cancelled;
  cancelled.Cancel();
  tuning.progress = &cancelled;
  EXPECT_EQ(ExtractZipArchive(archive_, again, tuning).filesWritten, 0u);
  EXPECT_EQ(testing::ListTree(again), std::vector<std::string>{});
}

// A folder's time is set once its content is written, though other workers write into it, and a
// folder entry that comes after files inside it still gives the folder its permissions and time.
TEST_P(ParallelExtractionTest, RestoresFolderModesAndTimesAfterEveryWorkerIsDone) {
  ZipBuilder zip;
  for (int i = 0; i < 60; ++i) zip.AddFile("kept/sub/f" + std::to_string(i), "data");
  zip.Add({.name = "kept/", .unixMode = 040700, .dosAttributes = 0x10, .mtime = 1000000000});
  for (int i = 0; i < 60; ++i) zip.AddFile("kept/g" + std::to_string(i), "data");
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(report.foldersCreated, 1u);
  struct stat status;
  ASSERT_EQ(stat((out_ / "kept").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, 1000000000);
  EXPECT_EQ(status.st_mode & 07777, 0700u);
}

// Faulty entries among good ones: each is counted once, the names kept are the first ones in the
// archive's order, and no temporary file is left behind.
TEST_P(ParallelExtractionTest, CountsFaultsOnceAndKeepsTheFirstNames) {
  ZipBuilder zip;
  for (int i = 0; i < 120; ++i) {
    std::string name = "f" + std::to_string(100 + i);
    if (i % 10 == 3) {
      zip.Add({.name = name, .data = "damaged", .unixMode = 0100644, .crc = 1});
    } else if (i % 10 == 7) {
      zip.AddFile("../" + name, "evil");
    } else {
      zip.AddFile(name, "good" + std::to_string(i));
    }
  }
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(report.filesWritten, 96u);
  EXPECT_EQ(report.SkippedFor(SkipReason::kUnreadableData), 12u);
  EXPECT_EQ(report.SkippedFor(SkipReason::kLeavesFolder), 12u);
  ASSERT_EQ(report.skipped.size(), 2u);
  EXPECT_EQ(report.skipped[0].reason, SkipReason::kUnreadableData);
  std::vector<std::string> damaged, leaving;
  for (int i = 0; i < 12; ++i) {
    damaged.push_back("f" + std::to_string(103 + 10 * i));
    leaving.push_back("../f" + std::to_string(107 + 10 * i));
  }
  EXPECT_EQ(report.skipped[0].names, damaged);
  EXPECT_EQ(report.skipped[1].names, leaving);
  for (const std::string& line : Tree()) EXPECT_EQ(line.find(".zipdrop-"), std::string::npos);
  EXPECT_EQ(Tree().size(), 96u);
}

// Entries that meet on disk: the first in the archive's order is the one written on every run,
// however long it takes, and the later ones are reported. A file in the way of a later path blocks
// it, and a later file cannot take the name of a folder an earlier path made.
TEST_P(ParallelExtractionTest, FirstOfEntriesWithOneNameIsWrittenWhateverItsSize) {
  std::string large(30 * 1024 * 1024, 'A');
  ZipBuilder zip;
  zip.AddFile("same.txt", large).AddFile("filler", std::string(1024 * 1024, 'f'));
  zip.AddFile("same.txt", "B").AddFile("d/e", "1").AddFile("d", "file").AddFile("d/e/f", "2");
  ExtractionReport report = Extract(zip);
  EXPECT_TRUE(testing::ReadFile(out_ / "same.txt") == large);
  EXPECT_EQ(testing::ReadFile(out_ / "d/e"), "1");
  EXPECT_EQ(report.filesWritten, 3u);
  ASSERT_EQ(report.skipped.size(), 2u) << DescribeSkipped(report);
  EXPECT_EQ(report.skipped[0].reason, SkipReason::kAlreadyExists);
  EXPECT_EQ(report.skipped[0].names, (std::vector<std::string>{"same.txt", "d"}));
  EXPECT_EQ(report.skipped[1].reason, SkipReason::kBlockedPath);
  EXPECT_EQ(report.skipped[1].names, std::vector<std::string>{"d/e/f"});
}

// A stored entry larger than the in-memory limit, and one whose data runs past its declared size,
// streamed or decoded whole alike.
TEST_P(ParallelExtractionTest, ChecksStoredDataWhetherStreamedOrHeld) {
  std::string big(3 * 1024 * 1024 + 17, 'b');
  for (std::size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>('a' + i % 26);
  ZipBuilder zip;
  zip.AddFile("big.bin", big);
  zip.Add({.name = "short", .data = "hello world", .unixMode = 0100644, .size = 5});
  for (int i = 0; i < 40; ++i) zip.AddFile("pad" + std::to_string(i), "p");
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(report.filesWritten, 41u);
  EXPECT_EQ(report.SkippedFor(SkipReason::kUnreadableData), 1u);
  std::vector<std::string> tree = Tree();
  EXPECT_NE(std::find(tree.begin(), tree.end(), "big.bin=" + big), tree.end());
  EXPECT_FALSE(fs::exists(out_ / "short"));
}

// Deflated entries, from libarchive's own writer, in and out of the in-memory path.
TEST_P(ParallelExtractionTest, DecodesDeflatedEntriesOfEverySize) {
  std::vector<testing::LibarchiveFile> files;
  for (int i = 0; i < 30; ++i) {
    std::string data;
    for (int k = 0; data.size() < static_cast<std::size_t>(i) * 9000; ++k) {
      data += std::to_string(k * i) + ";";
    }
    files.push_back({"deflated/" + std::to_string(i) + ".txt", data});
  }
  testing::WriteLibarchiveZip(archive_, files);
  ExtractionReport report = ExtractZipArchive(archive_, out_.string(), GetParam().tuning);
  EXPECT_EQ(report.filesWritten, 30u);
  std::vector<std::string> tree = Tree();
  for (const auto& file : files) {
    EXPECT_NE(std::find(tree.begin(), tree.end(), file.name + "=" + file.data), tree.end())
        << file.name;
  }
}

// An entry that stops the work (here a decomposed name, which the reader composes) must not hide
// the entries lost with it: every entry is either written or counted.
TEST_P(ParallelExtractionTest, EveryEntryIsWrittenOrCounted) {
  ZipBuilder zip;
  for (int i = 0; i < 40; ++i) {
    std::string name = "g" + std::to_string(100 + i) + (i == 5 ? "\xE3\x81\x8B\xE3\x82\x99" : "");
    zip.Add({.name = name, .data = "x", .flags = testing::kFlagUtf8});
  }
  ExtractionReport report = Extract(zip);
  std::uint64_t skipped = 0;
  for (const auto& reason : report.skipped) skipped += reason.count;
  EXPECT_EQ(report.filesWritten + skipped, 40u);
  EXPECT_EQ(Tree().size(), report.filesWritten);
}

}  // namespace
}  // namespace zipdrop
