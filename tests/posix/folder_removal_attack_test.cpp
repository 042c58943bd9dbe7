// Folder removal against someone who shares the temporary folder: links and hard links planted
// inside a matched folder, read-only trees, and folders filled, moved or swapped for links while
// the removal runs. Whatever happens, nothing outside the matched folders may change; the
// surrounding trees are compared entry by entry before and after.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "platform/platform_error.h"
#include "platform/posix/folder_removal.h"
#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

const std::string kPattern = "Temporary Directory*";

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

// Everything below a folder, links not followed: each entry's type, permissions, inode and
// content (or link target). The link count is left out: removing a hard link lowers it.
using Snapshot = std::map<std::string, std::string>;

Snapshot TakeSnapshot(const std::string& folder, const std::vector<std::string>& skipped) {
  Snapshot snapshot;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    std::string path = entry.path().string();
    bool skip = false;
    for (const std::string& prefix : skipped) skip = skip || path.starts_with(folder + "/" + prefix);
    if (skip) continue;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    std::string description = std::to_string(info.st_mode) + " " + std::to_string(info.st_ino);
    if (S_ISREG(info.st_mode)) description += " " + ReadFile(path);
    if (S_ISLNK(info.st_mode)) description += " -> " + fs::read_symlink(path).string();
    snapshot[path] = description;
  }
  return snapshot;
}

class FolderRemovalAttackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(outside_ / "precious.txt", "keep");
    WriteFile(outside_ / "read-only.txt", "keep too", 0444);
    fs::create_directories(outside_ / "folder/inner");
    WriteFile(outside_ / "folder/inner/deep.txt", "deep");
    fs::create_directories(temp_ / "Other Directory");
    WriteFile(temp_ / "Other Directory/file", "sibling");
  }

  // The trees that must not change: all of outside_, and temp_ apart from the matched folders
  // (and from any other names of temp_ given).
  Snapshot Surroundings(std::vector<std::string> alsoSkipped = {}) const {
    Snapshot snapshot = TakeSnapshot(outside_.Path(), {});
    alsoSkipped.push_back("Temporary Directory");
    snapshot.merge(TakeSnapshot(temp_.Path(), alsoSkipped));
    return snapshot;
  }

  std::string Match(const std::string& name) const { return temp_ / ("Temporary Directory " + name); }

  ScratchFolder temp_;
  ScratchFolder outside_;
};

// One planted layout per case; the removal must succeed, take every real matched folder and
// leave every entry outside them as it was.
struct PlantedCase {
  const char* label;
  std::function<void(const ScratchFolder& temp, const ScratchFolder& outside)> plant;
};

class PlantedLinksTest : public FolderRemovalAttackTest,
                         public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedLinksTest, RemovesTheMatchesAndNothingElse) {
  fs::create_directories(Match("1/sub"));
  WriteFile(Match("1/sub/own.txt"), "ours");
  GetParam().plant(temp_, outside_);
  Snapshot before = Surroundings();

  DeleteMatchingFolders(temp_ / kPattern, true);

  EXPECT_FALSE(Exists(Match("1")));
  EXPECT_EQ(Surroundings(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PlantedLinksTest,
    ::testing::Values(
        PlantedCase{"MatchIsLinkToOutsideFolder",
                    [](const ScratchFolder& temp, const ScratchFolder& outside) {
                      fs::create_directory_symlink(outside / "folder",
                                                   temp / "Temporary Directory link");
                    }},
        PlantedCase{"MatchIsLinkToTheTemporaryFolderItself",
                    [](const ScratchFolder& temp, const ScratchFolder&) {
                      fs::create_directory_symlink(".", temp / "Temporary Directory dot");
                    }},
        PlantedCase{"LinksInsideToOutsideFilesAndFolders",
                    [](const ScratchFolder& temp, const ScratchFolder& outside) {
                      const std::string inside = temp / "Temporary Directory 1/sub/";
                      fs::create_symlink(outside / "precious.txt", inside + "file-link");
                      fs::create_directory_symlink(outside / "folder", inside + "folder-link");
                      fs::create_directory_symlink("../../..", inside + "climbing-link");
                      fs::create_directory_symlink("/", inside + "root-link");
                    }},
        PlantedCase{"ReadOnlyFolderLinkedInside",
                    [](const ScratchFolder& temp, const ScratchFolder& outside) {
                      chmod((outside / "folder/inner").c_str(), 0555);
                      fs::create_directory_symlink(outside / "folder/inner",
                                                   temp / "Temporary Directory 1/inner");
                    }}),
    [](const auto& info) { return std::string(info.param.label); });

// A bind mount of an outside folder sits on the same device as the temporary folder. It is left
// as it is, with the folders that lead to it, while everything else is still removed.
TEST_F(FolderRemovalAttackTest, BindMountInsideIsLeftAndTheRestRemoved) {
  fs::create_directories(Match("1/sub/mnt"));
  WriteFile(Match("1/sub/own.txt"), "ours");
  fs::create_directories(Match("2/x"));
  struct Bound {
    std::string at;
    bool mounted;
    ~Bound() {
      if (mounted) umount2(at.c_str(), MNT_DETACH);
    }
  } bound{Match("1/sub/mnt"), false};
  bound.mounted = mount((outside_ / "folder").c_str(), bound.at.c_str(), nullptr, MS_BIND,
                        nullptr) == 0;
  if (!bound.mounted) GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
  Snapshot before = Surroundings();

  EXPECT_THROW(DeleteMatchingFolders(temp_ / kPattern, true), PlatformError);

  EXPECT_EQ(Surroundings(), before);
  EXPECT_EQ(ReadFile(Match("1/sub/mnt/inner/deep.txt")), "deep");
  EXPECT_FALSE(Exists(Match("1/sub/own.txt")));
  EXPECT_FALSE(Exists(Match("2")));
}

// A hard link shares its inode, and so its mode, with the outside name: making it writable to
// remove it would change the outside file too.
TEST_F(FolderRemovalAttackTest, HardLinksGoWhileTheirOtherNamesKeepContentAndMode) {
  fs::create_directories(Match("1/sub"));
  ASSERT_EQ(link((outside_ / "precious.txt").c_str(), Match("1/sub/hard").c_str()), 0);
  ASSERT_EQ(link((outside_ / "read-only.txt").c_str(), Match("1/hard-read-only").c_str()), 0);
  Snapshot before = Surroundings();

  DeleteMatchingFolders(temp_ / kPattern, true);

  EXPECT_FALSE(Exists(Match("1")));
  EXPECT_EQ(Surroundings(), before);
  struct stat info;
  ASSERT_EQ(stat((outside_ / "read-only.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_nlink, 1u);
  EXPECT_EQ(info.st_mode & 07777, 0444u);
}

// Without force the removal stops at the first read-only file or folder it meets, whichever
// the listing gives first; neither read-only part may be gone after the failure.
TEST_F(FolderRemovalAttackTest, WithoutForceTheReadOnlyPartsStay) {
  fs::create_directories(Match("1/a/b"));
  WriteFile(Match("1/a/b/locked.txt"), "locked", 0444);
  fs::create_directories(Match("1/sealed/inner"));
  WriteFile(Match("1/sealed/inner/file"), "sealed");
  chmod(Match("1/sealed").c_str(), 0555);
  Snapshot before = Surroundings();

  EXPECT_THROW(DeleteMatchingFolders(temp_ / kPattern, false), PlatformError);

  EXPECT_EQ(Surroundings(), before);
  EXPECT_EQ(ReadFile(Match("1/a/b/locked.txt")), "locked");
  EXPECT_EQ(ReadFile(Match("1/sealed/inner/file")), "sealed");

  // With force the same tree goes, and still nothing around it changes.
  DeleteMatchingFolders(temp_ / kPattern, true);
  EXPECT_FALSE(Exists(Match("1")));
  EXPECT_EQ(Surroundings(), before);
}

// The races below are bounded by counts of rounds and of the other side's steps, never by time.
constexpr int kRounds = 8;

void FillTree(const std::string& folder, int folders, int filesEach) {
  for (int d = 0; d < folders; ++d) {
    std::string sub = folder + "/c" + std::to_string(d);
    fs::create_directories(sub);
    for (int f = 0; f < filesEach; ++f) WriteFile(sub + "/f" + std::to_string(f), "x");
  }
}

// Runs the removal while another thread does its steps; returns whether the removal succeeded.
// A removal that fails must fail with PlatformError, never with anything else.
bool RemoveDuring(const std::string& pattern, const std::function<void()>& otherSide) {
  std::atomic<bool> started = false;
  std::thread other([&] {
    started = true;
    otherSide();
  });
  while (!started) std::this_thread::yield();
  bool removed = true;
  try {
    DeleteMatchingFolders(pattern, true);
  } catch (const PlatformError&) {
    removed = false;
  }
  other.join();
  return removed;
}

// The decision for a folder that keeps being filled: the call either removes all of it, or fails
// with PlatformError and leaves the folder, which a later call removes once the filling stops.
TEST_F(FolderRemovalAttackTest, FolderFilledWhileRemovedGoesWhollyOrFailsCleanly) {
  Snapshot before = Surroundings();
  for (int round = 0; round < kRounds; ++round) {
    FillTree(Match("busy"), 4, 25);
    int folder = open(Match("busy").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    bool removed = RemoveDuring(temp_ / kPattern, [&] {
      // Works through its own descriptor, as an attacker holding the folder open would; once
      // the folder is gone every creation fails and the loop just runs out.
      for (int i = 0; i < 400; ++i) {
        std::string name = "new" + std::to_string(i);
        if (i % 8 == 0) {
          mkdirat(folder, name.c_str(), 0700);
        } else {
          close(openat(folder, name.c_str(), O_CREAT | O_WRONLY, 0600));
        }
      }
    });
    close(folder);
    if (removed) {
      EXPECT_FALSE(Exists(Match("busy"))) << "round " << round;
    } else {
      EXPECT_TRUE(Exists(Match("busy"))) << "round " << round;
      DeleteMatchingFolders(temp_ / kPattern, true);
      EXPECT_FALSE(Exists(Match("busy")));
    }
    ASSERT_EQ(Surroundings(), before) << "round " << round;
  }
}

// A folder moved out of the match while it is being emptied must not lead the removal into the
// folder it was moved to: climbing back up would otherwise empty the attacker's chosen target.
TEST_F(FolderRemovalAttackTest, FolderMovedAwayMidRemovalLeadsNowhere) {
  fs::create_directories(temp_ / "parking");
  WriteFile(temp_ / "parking/precious.txt", "parked");
  Snapshot before = Surroundings({"parking/b"});
  for (int round = 0; round < kRounds; ++round) {
    FillTree(Match("1/a/b"), 10, 20);
    const std::string inside = Match("1/a/b"), away = temp_ / "parking/b";
    RemoveDuring(temp_ / kPattern, [&] {
      for (int i = 0; i < 4000; ++i) {
        bool out = i % 2 == 0;
        if (rename(out ? inside.c_str() : away.c_str(), out ? away.c_str() : inside.c_str()) != 0) {
          break;
        }
      }
    });
    ASSERT_EQ(Surroundings({"parking/b"}), before) << "round " << round;
    std::error_code ignored;
    fs::remove_all(away, ignored);
    fs::remove_all(Match("1"), ignored);
  }
}

// A folder swapped for a link to the victim's folder, back and forth, while the removal runs.
TEST_F(FolderRemovalAttackTest, FolderSwappedForALinkNeverLeadsOutside) {
  Snapshot before = Surroundings();
  for (int round = 0; round < kRounds; ++round) {
    FillTree(Match("1/sub"), 5, 20);
    const std::string sub = Match("1/sub"), parked = Match("1/parked");
    RemoveDuring(temp_ / kPattern, [&] {
      for (int i = 0; i < 1000; ++i) {
        if (rename(sub.c_str(), parked.c_str()) != 0) break;
        symlink((outside_ / "folder").c_str(), sub.c_str());
        unlink(sub.c_str());
        if (rename(parked.c_str(), sub.c_str()) != 0) break;
      }
    });
    ASSERT_EQ(Surroundings(), before) << "round " << round;
    std::error_code ignored;
    fs::remove_all(Match("1"), ignored);
  }
}

}  // namespace
}  // namespace zipdrop
