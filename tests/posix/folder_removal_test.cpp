#include "platform/posix/folder_removal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/platform_error.h"
#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using testing::WriteFile;

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

class FolderRemovalTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name) {
    fs::create_directories(temp_ / name);
    return temp_ / name;
  }
  ScratchFolder temp_;
  ScratchFolder outside_;
};

TEST_F(FolderRemovalTest, RemovesOnlyMatchingFoldersWithTheirContents) {
  Make("Temporary Directory 1 for a.zip/sub/deeper");
  WriteFile(temp_ / "Temporary Directory 1 for a.zip/sub/file.txt", "x");
  Make("Temporary Directory 2 for b.zip");
  Make("Temporary Files");
  Make("My Temporary Directory");
  WriteFile(temp_ / "Temporary Directory 3.txt", "a file that matches is kept");

  DeleteMatchingFolders(temp_ / "Temporary Directory*", true);

  EXPECT_FALSE(Exists(temp_ / "Temporary Directory 1 for a.zip"));
  EXPECT_FALSE(Exists(temp_ / "Temporary Directory 2 for b.zip"));
  EXPECT_TRUE(Exists(temp_ / "Temporary Files"));
  EXPECT_TRUE(Exists(temp_ / "My Temporary Directory"));
  EXPECT_TRUE(Exists(temp_ / "Temporary Directory 3.txt"));
}

TEST_F(FolderRemovalTest, ThrowsWhenNothingMatches) {
  Make("Other");
  WriteFile(temp_ / "Temporary Directory 1", "only a file has the name");
  EXPECT_THROW(DeleteMatchingFolders(temp_ / "Temporary Directory*", true), PlatformError);
  EXPECT_TRUE(Exists(temp_ / "Temporary Directory 1"));
  EXPECT_THROW(DeleteMatchingFolders(outside_ / "missing/Temporary Directory*", true),
               PlatformError);
}

TEST_F(FolderRemovalTest, RefusesWildcardsOutsideTheLastName) {
  Make("a1/Temporary Directory 1");
  EXPECT_THROW(DeleteMatchingFolders(temp_ / "a*/Temporary Directory*", true), PlatformError);
  EXPECT_TRUE(Exists(temp_ / "a1/Temporary Directory 1"));
}

struct WildcardCase {
  const char* label;
  const char* pattern;
  std::vector<std::string> removed;
  std::vector<std::string> kept;
};

class WildcardTest : public FolderRemovalTest, public ::testing::WithParamInterface<WildcardCase> {};

TEST_P(WildcardTest, MatchesLikeWindows) {
  const WildcardCase& c = GetParam();
  Make("inner");
  for (const std::string& name : c.removed) Make("inner/" + name);
  for (const std::string& name : c.kept) Make("inner/" + name);
  Make("sibling");

  DeleteMatchingFolders(temp_ / ("inner/" + std::string(c.pattern)), false);

  for (const std::string& name : c.removed) EXPECT_FALSE(Exists(temp_ / ("inner/" + name))) << name;
  for (const std::string& name : c.kept) EXPECT_TRUE(Exists(temp_ / ("inner/" + name))) << name;
  // "." and ".." must never match: the folder itself and its parent stay.
  EXPECT_TRUE(Exists(temp_ / "inner"));
  EXPECT_TRUE(Exists(temp_ / "sibling"));
}

// Windows has no FNM_PERIOD rule: a wildcard matches a leading dot like any other character.
INSTANTIATE_TEST_SUITE_P(
    Patterns, WildcardTest,
    ::testing::Values(
        WildcardCase{"QuestionMarkIsOneCharacter", "Temp?", {"Temp1", "TempX"}, {"Temp", "Temp12"}},
        WildcardCase{"StarMatchesLeadingDot", "*cache", {".cache", "xcache"}, {"cache.old"}},
        WildcardCase{"StarAloneTakesEverything", "*", {"a", ".hidden"}, {}},
        WildcardCase{"BracketIsLiteral", "[ab]*", {"[ab]x"}, {"ax", "bx"}},
        WildcardCase{"BackslashIsLiteral", "a\\*", {"a\\b"}, {"ab", "a*"}},
        WildcardCase{"CaseMatters", "temporary*", {"temporary 1"}, {"Temporary 2"}},
        WildcardCase{"TrailingSeparatorIgnored", "exact/", {"exact"}, {"exact2"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FolderRemovalTest, LeavesAMatchingLinkAndItsTargetAlone) {
  WriteFile(outside_ / "precious.txt", "keep");
  fs::create_directory_symlink(outside_.Path(), temp_ / "Temporary Directory 9");
  Make("Temporary Directory 1");

  DeleteMatchingFolders(temp_ / "Temporary Directory*", true);

  EXPECT_FALSE(Exists(temp_ / "Temporary Directory 1"));
  EXPECT_EQ(testing::ReadFile(outside_ / "precious.txt"), "keep");
}

TEST_F(FolderRemovalTest, OnlyMatchingLinkThrows) {
  fs::create_directory_symlink(outside_.Path(), temp_ / "Temporary Directory 9");
  EXPECT_THROW(DeleteMatchingFolders(temp_ / "Temporary Directory*", true), PlatformError);
  EXPECT_TRUE(Exists(outside_.Path()));
}

TEST_F(FolderRemovalTest, RemovesLinksInsideAsLinks) {
  WriteFile(outside_ / "precious.txt", "keep");
  Make("Temporary Directory 1/sub");
  fs::create_directory_symlink(outside_.Path(), temp_ / "Temporary Directory 1/sub/to-folder");
  fs::create_symlink(outside_ / "precious.txt", temp_ / "Temporary Directory 1/to-file");
  fs::create_symlink(outside_ / "nowhere", temp_ / "Temporary Directory 1/dangling");

  DeleteMatchingFolders(temp_ / "Temporary Directory*", false);

  EXPECT_FALSE(Exists(temp_ / "Temporary Directory 1"));
  EXPECT_EQ(testing::ReadFile(outside_ / "precious.txt"), "keep");
}

TEST_F(FolderRemovalTest, ForceRemovesReadOnlyAndClosedFolders) {
  Make("Temporary Directory 1/read-only/inner");
  Make("Temporary Directory 1/closed/inner");
  WriteFile(temp_ / "Temporary Directory 1/read-only/inner/file", "x", 0444);
  WriteFile(temp_ / "Temporary Directory 1/closed/inner/file", "x", 0444);
  chmod((temp_ / "Temporary Directory 1/read-only/inner").c_str(), 0555);
  chmod((temp_ / "Temporary Directory 1/read-only").c_str(), 0555);
  chmod((temp_ / "Temporary Directory 1/closed").c_str(), 0);
  chmod((temp_ / "Temporary Directory 1").c_str(), 0500);

  DeleteMatchingFolders(temp_ / "Temporary Directory*", true);

  EXPECT_FALSE(Exists(temp_ / "Temporary Directory 1"));
}

TEST_F(FolderRemovalTest, WithoutForceReadOnlyFileStopsTheRemoval) {
  Make("Temporary Directory 1");
  WriteFile(temp_ / "Temporary Directory 1/locked", "x", 0444);
  EXPECT_THROW(DeleteMatchingFolders(temp_ / "Temporary Directory*", false), PlatformError);
  EXPECT_TRUE(Exists(temp_ / "Temporary Directory 1/locked"));
}

TEST_F(FolderRemovalTest, WithoutForceReadOnlyFolderStopsTheRemoval) {
  Make("Temporary Directory 1/kept");
  chmod((temp_ / "Temporary Directory 1").c_str(), 0555);
  EXPECT_THROW(DeleteMatchingFolders(temp_ / "Temporary Directory*", false), PlatformError);
  EXPECT_TRUE(Exists(temp_ / "Temporary Directory 1/kept"));
}

TEST_F(FolderRemovalTest, RemovesFolderNamedWithInvalidUtf8) {
  Make("Temporary Directory \xFF\x89");
  Make("Temporary Directory \xFF\x89/\x93\xFA");
  DeleteMatchingFolders(temp_ / "Temporary Directory \xFF*", false);
  EXPECT_FALSE(Exists(temp_ / "Temporary Directory \xFF\x89"));
}

// Lowers the limit on open descriptors until the object goes away.
class ScopedDescriptorLimit {
 public:
  explicit ScopedDescriptorLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~ScopedDescriptorLimit() { setrlimit(RLIMIT_NOFILE, &old_); }

 private:
  rlimit old_;
};

// Deeper than the descriptor limit allows folders to be held open at once, and deeper than any
// path the kernel accepts in one call, so a walk that keeps one descriptor per level or
// resolves whole paths fails here.
TEST_F(FolderRemovalTest, RemovesATreeDeeperThanTheDescriptorLimit) {
  constexpr int kDepth = 300;
  const std::string level(30, 'd');
  Make("Temporary Directory deep");
  int fd = open((temp_ / "Temporary Directory deep").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int depth = 0; depth < kDepth; ++depth) {
    ASSERT_EQ(mkdirat(fd, level.c_str(), 0700), 0);
    int child = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(child, 0);
    fd = child;
  }
  close(openat(fd, "leaf", O_CREAT | O_WRONLY, 0600));
  close(fd);

  {
    ScopedDescriptorLimit limit(64);
    DeleteMatchingFolders(temp_ / "Temporary Directory*", true);
  }
  EXPECT_FALSE(Exists(temp_ / "Temporary Directory deep"));
}

}  // namespace
}  // namespace zipdrop
