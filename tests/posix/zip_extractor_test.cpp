#include "zipdrop/extractor/zip_extractor.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/platform_services.h"
#include "platform/posix/extractor/beneath.h"
#include "platform/posix/process_setup.h"
#include "platform/posix/shell_objects.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/ui/skip_summary.h"
#include "tests/posix/extractor_fixture.h"
#include "tests/posix/scratch_folder.h"
#include "tests/posix/zip_builder.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ZipBuilder;
using testing::ZipEntrySpec;

using testing::ListTree;
using testing::ReadFile;

using testing::ExtractorFixture;

void WriteFile(const fs::path& path, const std::string& content) {
  testing::WriteFile(path, content);
}

// Runs once with the kernel's fast paths and once with the fallbacks that older kernels
// (no openat2) and some file systems (no RENAME_NOREPLACE) take.
class ExtractorTest : public ExtractorFixture, public ::testing::WithParamInterface<Fallbacks> {
 protected:
  void SetUp() override {
    ExtractorFixture::SetUp();
    ForceFallbacks(GetParam());
  }
};

INSTANTIATE_TEST_SUITE_P(Paths, ExtractorTest,
                         ::testing::Values(Fallbacks{}, Fallbacks{true, true, true}),
                         [](const auto& info) {
                           return info.param.componentWalk ? "Fallbacks" : "Openat2";
                         });

TEST_P(ExtractorTest, WritesNestedFoldersAndFiles) {
  ZipBuilder zip;
  zip.AddFolder("./").AddFolder("a/").AddFile("a/b/c.txt", "deep").AddFile("top.txt", "top");
  zip.AddFile("x/y/z.bin", std::string("\0\1\2", 3)).AddFile("empty", "");
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(ReadFile(out_ / "a/b/c.txt"), "deep");
  EXPECT_EQ(ReadFile(out_ / "top.txt"), "top");
  EXPECT_EQ(ReadFile(out_ / "x/y/z.bin"), std::string("\0\1\2", 3));
  EXPECT_TRUE(fs::is_regular_file(out_ / "empty"));
  EXPECT_EQ(report.filesWritten, 4u);
  EXPECT_EQ(report.foldersCreated, 1u);
  EXPECT_TRUE(report.skipped.empty());
  EXPECT_EQ(DescribeSkipped(report), "");
}

TEST_P(ExtractorTest, LargeDeflatedFileArrivesWhole) {
  std::string big;
  for (int i = 0; big.size() < 3 * 256 * 1024; ++i) big += std::to_string(i) + ",";
  testing::WriteLibarchiveZip(archive_, {{"big.txt", big}, {"dir/small.txt", "s"}});
  ExtractionReport report = ExtractZipArchive(archive_, out_);
  EXPECT_EQ(ReadFile(out_ / "big.txt"), big);
  EXPECT_EQ(ReadFile(out_ / "dir/small.txt"), "s");
  EXPECT_EQ(report.filesWritten, 2u);
}

TEST_P(ExtractorTest, RefusesNamesThatLeaveTheFolder) {
  ZipBuilder zip;
  for (const char* name : {"../x", "ok/../../x", "..\\..\\x", "/abs", "C:\\x", ""}) {
    zip.AddFile(name, "evil");
  }
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(report.SkippedFor(SkipReason::kLeavesFolder), 5u);
  EXPECT_EQ(report.SkippedFor(SkipReason::kEmptyName), 1u);
  EXPECT_EQ(report.filesWritten, 0u);
  EXPECT_EQ(ListTree(root_), (std::vector<std::string>{"a.zip", "out", "outside", "outside/x"}));
  EXPECT_FALSE(fs::exists("/abs"));
}

// A FIFO's mode on an entry with data (`zip` reading a pipe) makes a regular file with the data.
TEST_P(ExtractorTest, NeverCreatesOrFollowsLinkEntries) {
  ZipBuilder zip;
  zip.AddSymlink("lnk", outside_.string()).AddFile("lnk/p.txt", "payload");
  zip.Add({.name = "fifo", .data = "data", .unixMode = 010644});
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(report.SkippedFor(SkipReason::kLink), 1u);
  EXPECT_EQ(report.skipped.size(), 1u) << DescribeSkipped(report);
  EXPECT_FALSE(fs::is_symlink(out_ / "lnk"));
  EXPECT_EQ(ReadFile(out_ / "lnk/p.txt"), "payload");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out_ / "fifo")));
  EXPECT_EQ(ReadFile(out_ / "fifo"), "data");
  EXPECT_EQ(ListTree(outside_), std::vector<std::string>{"x"});
}

TEST_P(ExtractorTest, LeavesWhatAlreadyExistsUntouched) {
  WriteFile(out_ / "kept.txt", "mine");
  WriteFile(outside_ / "target.txt", "outside");
  outsideNames_.insert(outsideNames_.begin(), "target.txt");
  fs::create_symlink(outside_ / "target.txt", out_ / "link.txt");
  fs::create_symlink(outside_, out_ / "linkdir");
  fs::create_directory(out_ / "merged");
  ZipBuilder zip;
  zip.AddFile("kept.txt", "theirs").AddFile("link.txt", "theirs");
  zip.AddFile("linkdir/new.txt", "theirs").AddFolder("linkdir/sub/");
  zip.AddFile("merged/new.txt", "new").AddFile("kept.txt/inside", "x");
  zip.AddFile("merged/new.txt", "duplicate");
  ExtractionReport report = Extract(zip);
  EXPECT_EQ(ReadFile(out_ / "kept.txt"), "mine");
  EXPECT_EQ(ReadFile(outside_ / "target.txt"), "outside");
  EXPECT_TRUE(fs::is_symlink(out_ / "link.txt"));
  EXPECT_EQ(ListTree(outside_), (std::vector<std::string>{"target.txt", "x"}));
  EXPECT_EQ(ReadFile(out_ / "merged/new.txt"), "new");
  EXPECT_EQ(report.SkippedFor(SkipReason::kAlreadyExists), 3u);
  EXPECT_EQ(report.SkippedFor(SkipReason::kBlockedPath), 3u);
  ExpectNoTemporaryFiles();
}

// Answers the question about files that exist as a test scripts it, and notes what was asked.
class ScriptedClashes : public ClashQuestion {
 public:
  ScriptedClashes(
      ClashChoice all, std::vector<FileClashChoice> each = {},
      std::function<void()> whileAsked = [] {})
      : all_(all), each_(std::move(each)), whileAsked_(std::move(whileAsked)) {}
  ClashChoice AskAll(std::uint64_t count, const std::vector<std::string>& kept) override {
    std::string question = std::to_string(count);
    for (const std::string& name : kept) question += " " + name;
    asked.push_back(question);
    whileAsked_();
    return all_;
  }
  FileClashChoice AskOne(const std::string& name, std::uint64_t remaining) override {
    asked.push_back(name + " " + std::to_string(remaining));
    return each_.at(asked.size() - 2);
  }
  std::vector<std::string> asked;

 private:
  ClashChoice all_;
  std::vector<FileClashChoice> each_;
  std::function<void()> whileAsked_;
};

// Only a regular file is replaced: not a link or a folder, neither from the start nor put in its
// place while the user is asked, and never the program itself.
TEST_P(ExtractorTest, ReplacesOnlyRegularFilesTheUserChose) {
  for (const char* name : {"old.txt", "program", "became-link.txt", "became-folder.txt"}) {
    WriteFile(out_ / name, "mine");
  }
  WriteFile(outside_ / "target.txt", "outside");
  outsideNames_.insert(outsideNames_.begin(), "target.txt");
  fs::create_symlink(outside_ / "target.txt", out_ / "link.txt");
  fs::create_directory(out_ / "folder.txt");
  struct stat program;
  ASSERT_EQ(stat((out_ / "program").c_str(), &program), 0);
  ScriptedClashes clashes(ClashChoice::kReplace, {}, [&] {
    fs::remove(out_ / "became-link.txt");
    fs::create_symlink(outside_ / "target.txt", out_ / "became-link.txt");
    fs::remove(out_ / "became-folder.txt");
    fs::create_directory(out_ / "became-folder.txt");
  });
  ZipBuilder zip;
  for (const char* name : {"old.txt", "program", "became-link.txt", "became-folder.txt", "link.txt",
                           "folder.txt", "new.txt"}) {
    zip.AddFile(name, "theirs");
  }
  zip.WriteTo(archive_);
  ExtractionTuning tuning;
  tuning.clashes = &clashes;
  tuning.neverReplaced.files = {{program.st_dev, program.st_ino}};
  ExtractionReport report = ExtractZipArchive(archive_, out_.string(), tuning);
  EXPECT_EQ(clashes.asked, std::vector<std::string>{"3 program"});
  EXPECT_EQ(ReadFile(out_ / "old.txt"), "theirs");
  EXPECT_EQ(ReadFile(out_ / "new.txt"), "theirs");
  EXPECT_EQ(ReadFile(out_ / "program"), "mine");
  EXPECT_EQ(ReadFile(outside_ / "target.txt"), "outside");
  EXPECT_TRUE(fs::is_symlink(out_ / "link.txt") && fs::is_symlink(out_ / "became-link.txt"));
  EXPECT_TRUE(fs::is_directory(out_ / "folder.txt") &&
              fs::is_directory(out_ / "became-folder.txt"));
  EXPECT_EQ(report.SkippedFor(SkipReason::kAlreadyExists), 5u);
  ExpectNoTemporaryFiles();
}

// What the program needs is never replaced, whatever the answer: the program, its launcher and
// icon beside it, and the archive being read. Where /proc cannot name the program, every file
// beside it is kept, and none of them is counted in the question.
TEST_P(ExtractorTest, KeepsTheProgramItsLauncherIconAndTheArchive) {
  struct Row {
    std::optional<std::string> program;
    const char* oldText;  // What out/old.txt holds afterwards.
  };
  for (const Row& row : {Row{(out_ / "zipdrop").string(), "theirs"}, Row{std::nullopt, "mine"}}) {
    const char* names[] = {"zipdrop", "zipdrop.desktop", "zipdrop.png", "old.txt", "sub/old.txt"};
    fs::create_directory(out_ / "sub");
    for (const char* name : names) WriteFile(out_ / name, "mine");
    ZipBuilder zip;
    for (const char* name : names) zip.AddFile(name, "theirs");
    zip.AddFile("drop.zip", "theirs");
    zip.WriteTo((out_ / "drop.zip").string());
    std::string archive = ReadFile(out_ / "drop.zip");
    ScriptedClashes clashes(ClashChoice::kReplace);
    ExtractionTuning tuning;
    tuning.clashes = &clashes;
    tuning.neverReplaced = ProgramFiles(row.program);
    ExtractionReport report = ExtractZipArchive((out_ / "drop.zip").string(), out_, tuning);
    // The question names what it keeps: without /proc, every file beside the program.
    EXPECT_EQ(clashes.asked,
              std::vector<std::string>{
                  row.program ? "2 zipdrop zipdrop.desktop zipdrop.png drop.zip"
                              : "1 zipdrop zipdrop.desktop zipdrop.png old.txt drop.zip"});
    for (const char* name : {"zipdrop", "zipdrop.desktop", "zipdrop.png"}) {
      EXPECT_EQ(ReadFile(out_ / name), "mine") << name;
    }
    EXPECT_EQ(ReadFile(out_ / "drop.zip"), archive);
    EXPECT_EQ(ReadFile(out_ / "old.txt"), row.oldText);
    EXPECT_EQ(ReadFile(out_ / "sub/old.txt"), "theirs");
    EXPECT_EQ(report.SkippedFor(SkipReason::kAlreadyExists), row.program ? 4u : 5u);
    ExpectNoTemporaryFiles();
    fs::remove_all(out_);
    fs::create_directory(out_);
  }
}

// Each file is asked about by name until an answer covers the rest; Cancel writes nothing.
TEST_P(ExtractorTest, AsksAboutEachFileOrCancels) {
  ZipBuilder zip;
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) zip.AddFile(name, "theirs");
  zip.WriteTo(archive_);
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteFile(out_ / name, "mine");
  ScriptedClashes each(ClashChoice::kDecideEach,
                       {FileClashChoice::kReplace, FileClashChoice::kSkipRest});
  ExtractionTuning tuning;
  tuning.clashes = &each;
  ExtractZipArchive(archive_, out_.string(), tuning);
  EXPECT_EQ(each.asked, (std::vector<std::string>{"3", "a.txt 3", "b.txt 2"}));
  EXPECT_EQ(ReadFile(out_ / "a.txt") + ReadFile(out_ / "b.txt") + ReadFile(out_ / "c.txt"),
            "theirsminemine");
  fs::remove(out_ / "d.txt");
  ScriptedClashes cancel(ClashChoice::kCancel);
  ExtractionProgress progress;
  tuning = {};
  tuning.clashes = &cancel;
  tuning.progress = &progress;
  ExtractZipArchive(archive_, out_.string(), tuning);
  EXPECT_TRUE(progress.Cancelled());
  EXPECT_FALSE(fs::exists(out_ / "d.txt"));
}

TEST_P(ExtractorTest, DropsSpecialBitsAndRestoresModesAndTimes) {
  ZipBuilder zip;
  zip.Add({.name = "setuid", .data = "x", .unixMode = 0104755, .mtime = 1000000000});
  zip.Add({.name = "private", .data = "x", .unixMode = 0100600});
  zip.Add({.name = "sticky/", .unixMode = 041777, .mtime = 1100000000});
  zip.Add({.name = "sticky/in.txt", .data = "x", .unixMode = 0102644});
  Extract(zip);
  auto mode = [&](const char* name) {
    struct stat status;
    EXPECT_EQ(lstat((out_ / name).c_str(), &status), 0);
    return std::pair(status.st_mode & 07777, status.st_mtim.tv_sec);
  };
  EXPECT_EQ(mode("setuid"), std::pair(mode_t{0755}, time_t{1000000000}));
  EXPECT_EQ(mode("private").first, 0600u);
  EXPECT_EQ(mode("sticky"), std::pair(mode_t{0755}, time_t{1100000000}));
  EXPECT_EQ(mode("sticky/in.txt").first, 0644u);
}

// Runs the extraction in a child process as an ordinary user when the test runs as root, who may
// write into any folder; returns the number of files written.
std::uint64_t ExtractAsOrdinaryUser(const std::string& archive, const fs::path& out) {
  if (geteuid() != 0) return ExtractZipArchive(archive, out.string()).filesWritten;
  constexpr uid_t kNobody = 65534;
  chmod(out.parent_path().c_str(), 0755);
  EXPECT_EQ(chown(out.c_str(), kNobody, kNobody), 0);
  pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(255);
    _exit(static_cast<int>(ExtractZipArchive(archive, out.string()).filesWritten));
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? static_cast<std::uint64_t>(WEXITSTATUS(status)) : 255;
}

// A folder takes its mode once its contents are written, as archivers do: a read-only folder
// entry must not keep its own files out, and ends no more open than the entry and umask allow.
TEST_P(ExtractorTest, ReadOnlyFolderEntriesStillReceiveTheirFiles) {
  ZipBuilder zip;
  zip.Add({.name = "ro/", .unixMode = 040500, .mtime = 1000000000});
  zip.Add({.name = "ro/a.txt", .data = "a", .unixMode = 0100644});
  zip.Add({.name = "ro/none/", .unixMode = 040000});
  zip.Add({.name = "ro/none/b.txt", .data = "b", .unixMode = 0100444});
  zip.Add({.name = "open/", .unixMode = 040777});
  zip.WriteTo(archive_);
  EXPECT_EQ(ExtractAsOrdinaryUser(archive_, out_), 2u);
  auto mode = [&](const char* name) {
    struct stat status;
    EXPECT_EQ(lstat((out_ / name).c_str(), &status), 0) << name;
    return status.st_mode & 07777;
  };
  EXPECT_EQ(mode("ro"), 0500u);
  EXPECT_EQ(mode("ro/none"), 0u);
  EXPECT_EQ(mode("open"), 0755u);
  EXPECT_EQ(ReadFile(out_ / "ro/none/b.txt"), "b");
  struct stat status;
  ASSERT_EQ(stat((out_ / "ro").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, 1000000000);
}

// A browser's record of where the archive came from follows every file out of it, as Windows's
// download mark does; a read-only file included, written by a user who may not set attributes on
// a file without write permission.
TEST_P(ExtractorTest, CarriesTheDownloadOriginOntoEveryFile) {
  ZipBuilder zip;
  zip.AddFile("a.txt", "a").AddFile("sub/b.txt", "b").AddFile("ro.txt", "r", 0100444);
  zip.AddFolder("empty/");
  zip.WriteTo(archive_);
  const std::string origin = "https://example.org/a.zip", referrer = "https://example.org/";
  if (setxattr(archive_.c_str(), "user.xdg.origin.url", origin.data(), origin.size(), 0) != 0) {
    GTEST_SKIP() << "no user attributes on this file system";
  }
  setxattr(archive_.c_str(), "user.xdg.referrer.url", referrer.data(), referrer.size(), 0);
  ASSERT_EQ(ExtractAsOrdinaryUser(archive_, out_), 3u);
  auto attribute = [](const fs::path& path, const char* name) {
    std::string value(256, '\0');
    ssize_t size = getxattr(path.c_str(), name, value.data(), value.size());
    return value.substr(0, size < 0 ? 0 : static_cast<std::size_t>(size));
  };
  for (const char* name : {"a.txt", "sub/b.txt", "ro.txt"}) {
    EXPECT_EQ(attribute(out_ / name, "user.xdg.origin.url"), origin) << name;
    EXPECT_EQ(attribute(out_ / name, "user.xdg.referrer.url"), referrer) << name;
  }
  struct stat status;
  ASSERT_EQ(stat((out_ / "ro.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0444u);
}

// The first thread of the process that does not hold the signal back, as its status shows it, or
// nothing when every one does. A thread that took the signal would end the process at once, with
// its temporary files left behind.
std::string ThreadNotHolding(pid_t pid, int signal) {
  int threads = 0;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::string status;
    try {
      status = ReadFile(task.path() / "status");
    } catch (const std::ios_base::failure&) {
      continue;  // A thread that ended between being listed and being read (ESRCH).
    }
    if (status.empty()) continue;
    std::size_t at = status.find("SigBlk:\t");
    if (at == std::string::npos ||
        (std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (signal - 1) & 1) == 0) {
      return status;
    }
    ++threads;
  }
  return threads > 1 ? "" : "no thread besides the first";
}

struct InterruptCase {
  int signal;
  bool namedTemporary;  // Files written under a hidden name, as without O_TMPFILE.
};

class InterruptTest : public ExtractorFixture, public ::testing::WithParamInterface<InterruptCase> {
 protected:
  // Whether the child is in the middle of writing the large file: the small one is finished
  // (two workers may start both at once, and the small one's write counts as a write too), and
  // there is a hidden name in the destination, or a file held open there that has no name yet.
  bool Writing(pid_t child) const {
    std::error_code error;
    if (!fs::exists(out_ / "first.txt", error)) return false;
    if (!GetParam().namedTemporary) {
      for (const auto& fd :
           fs::directory_iterator("/proc/" + std::to_string(child) + "/fd", error)) {
        std::string target = fs::read_symlink(fd.path(), error).string();
        if (target.starts_with(out_.string()) && target.ends_with("(deleted)")) return true;
      }
      return false;
    }
    try {
      for (const std::string& name : ListTree(out_)) {
        if (name.starts_with(".zipdrop-")) return true;
      }
    } catch (const fs::filesystem_error&) {
      // A file the child renamed or removed between being listed and being looked at.
    }
    return false;
  }
};

// However a copy is interrupted, even by SIGKILL, no fragment is left: what was finished stays,
// the file being written never appears under any name, and the process ends by the signal it got.
// The copy runs as the program runs it, its process prepared the same way and its progress
// display running, so every thread holds a catchable signal back until the clean-up is done.
TEST_P(InterruptTest, LeavesNoFragment) {
  ZipBuilder zip;
  zip.AddFile("first.txt", "done").Add(testing::LargeZeroEntry("large.bin", 1ull << 30));
  zip.WriteTo(archive_);
  const int signal = GetParam().signal;
  pid_t child = fork();
  if (child == 0) {
    ForceFallbacks({.namedTemporary = GetParam().namedTemporary});
    PrepareProcess();
    ObjectRef shell = CreateShellObject(u"Shell.Application");
    auto folder = [&](const std::string& path) {
      return CallShellMember(shell, u"Namespace", {FromSystemBytes(path)}).value;
    };
    Value items = CallShellMember(std::get<ObjectRef>(folder(archive_)), u"Items", {}).value;
    CallShellMember(std::get<ObjectRef>(folder(out_.string())), u"CopyHere", {items});
    _exit(0);
  }
  int status = 0;
  bool caught = false;
  while (!caught && waitpid(child, &status, WNOHANG) == 0) {
    caught = Writing(child);
    if (!caught) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(caught) << "the extraction ended before it could be interrupted";
  if (signal != SIGKILL) {
    EXPECT_EQ(ThreadNotHolding(child, signal), "") << sigabbrev_np(signal);
  }
  kill(child, signal);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
  EXPECT_EQ(Extracted(), std::vector<std::string>{"first.txt"});
}

// SIGKILL leaves no chance to remove a hidden name, so it is tried where files have none.
INSTANTIATE_TEST_SUITE_P(
    Signals, InterruptTest,
    ::testing::Values(InterruptCase{SIGINT, false}, InterruptCase{SIGTERM, false},
                      InterruptCase{SIGHUP, false}, InterruptCase{SIGKILL, false},
                      InterruptCase{SIGINT, true}, InterruptCase{SIGTERM, true},
                      InterruptCase{SIGHUP, true}, InterruptCase{SIGQUIT, true}),
    [](const auto& info) {
      return std::string(sigabbrev_np(info.param.signal)) +
             (info.param.namedTemporary ? "Named" : "Unnamed");
    });

}  // namespace
}  // namespace zipdrop
