#include "platform/posix/extractor/beneath.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;

// A folder "root" to work beneath, with a file "outside.txt" beside it that must stay out of
// reach, and symlinks inside it that lead out. Runs with and without the fallbacks.
class BeneathTest : public ::testing::TestWithParam<Fallbacks> {
 protected:
  void SetUp() override {
    fs::create_directories(top_ / "root/sub");
    std::ofstream(top_ / "outside.txt") << "outside";
    std::ofstream(top_ / "root/existing.txt") << "existing";
    fs::create_symlink(top_, top_ / "root/up");
    fs::create_symlink(top_ / "outside.txt", top_ / "root/link.txt");
    fs::create_symlink("sub", top_ / "root/inner");  // Stays inside, yet is a link all the same.
    std::ofstream(top_ / "root/sub/file.txt") << "file";
    root_ = UniqueFd(open((top_ / "root").c_str(), O_RDONLY | O_DIRECTORY));
    ForceFallbacks(GetParam());
  }
  void TearDown() override { ForceFallbacks({}); }

  testing::ScratchFolder scratch_;
  fs::path top_ = scratch_.Path();
  UniqueFd root_;
};

INSTANTIATE_TEST_SUITE_P(Paths, BeneathTest, ::testing::Values(Fallbacks{}, Fallbacks{true, true, true}),
                         [](const auto& info) {
                           return info.param.componentWalk ? "Fallbacks" : "Openat2";
                         });

TEST_P(BeneathTest, OpensWhatLiesBeneath) {
  EXPECT_TRUE(OpenBeneath(root_.Get(), "sub", O_RDONLY | O_DIRECTORY).Valid());
  EXPECT_TRUE(OpenBeneath(root_.Get(), "existing.txt", O_RDONLY).Valid());
  EXPECT_TRUE(OpenBeneath(root_.Get(), "sub/file.txt", O_RDONLY).Valid());
}

TEST_P(BeneathTest, RefusesEveryWayOutAndEveryLink) {
  for (const char* path : {"../outside.txt", "sub/../../outside.txt", "/etc/passwd",
                           "up/outside.txt", "link.txt", "up", "inner/file.txt"}) {
    errno = 0;
    EXPECT_FALSE(OpenBeneath(root_.Get(), path, O_RDONLY).Valid()) << path;
    EXPECT_NE(errno, 0) << path;
  }
}

TEST_P(BeneathTest, OpenOrCreateFolderRefusesALinkAtTheName) {
  bool created = true;
  EXPECT_FALSE(OpenOrCreateFolder(root_.Get(), "up", 0777, created).Valid());
  EXPECT_FALSE(created);
  EXPECT_TRUE(OpenOrCreateFolder(root_.Get(), "new", 0777, created).Valid());
  EXPECT_TRUE(created);
  EXPECT_TRUE(OpenOrCreateFolder(root_.Get(), "new", 0777, created).Valid());
  EXPECT_FALSE(created);
}

TEST_P(BeneathTest, PublishNeverReplacesAndUnpublishedFilesVanish) {
  for (const char* taken : {"existing.txt", "link.txt", "sub"}) {
    TemporaryFile file(root_.Get(), 0644);
    ASSERT_TRUE(file.Valid());
    ASSERT_EQ(write(file.Fd(), "new", 3), 3);
    EXPECT_FALSE(file.Publish(taken)) << taken;
    EXPECT_EQ(errno, EEXIST) << taken;
  }
  {
    TemporaryFile file(root_.Get(), 0644);
    ASSERT_TRUE(file.Valid());
    EXPECT_TRUE(file.Publish("fresh.txt"));
  }
  { TemporaryFile dropped(root_.Get(), 0644); }
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(top_ / "root")) {
    names.push_back(item.path().filename());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"existing.txt", "fresh.txt", "inner", "link.txt", "sub",
                                            "up"}));
  std::ifstream existing(top_ / "root/existing.txt"), outside(top_ / "outside.txt");
  std::string a, b;
  existing >> a, outside >> b;
  EXPECT_EQ(a + b, "existingoutside");
}

}  // namespace
}  // namespace zipdrop
