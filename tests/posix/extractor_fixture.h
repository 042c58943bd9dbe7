// The fixture of the extractor's tests that write into a folder: a scratch folder with the
// archive's path, an empty destination "out" and, beside it, a folder "outside" that no
// extraction may touch, checked after every test. The umask is 022 while a test runs, and the
// fallbacks a test forces are undone after it.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/extractor/beneath.h"
#include "tests/posix/scratch_folder.h"
#include "tests/posix/zip_builder.h"
#include "zipdrop/extractor/zip_extractor.h"

namespace zipdrop::testing {

class ExtractorFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(out_);
    std::filesystem::create_directory(outside_);
    WriteFile(outside_ / "x", "outside");
    oldUmask_ = umask(022);
  }
  // Whatever a test did, the folder outside holds what it held, as it was.
  void TearDown() override {
    ForceFallbacks({});
    umask(oldUmask_);
    EXPECT_EQ(ReadFile(outside_ / "x"), "outside");
    EXPECT_EQ(ListTree(outside_), outsideNames_);
  }

  ExtractionReport Extract(const ZipBuilder& zip) {
    zip.WriteTo(archive_);
    return ExtractZipArchive(archive_, out_);
  }
  // Every name the destination holds, hidden temporary files included.
  std::vector<std::string> Extracted() const { return ListTree(out_); }
  mode_t ModeOf(const std::string& name) const {
    struct stat status {};
    EXPECT_EQ(lstat((out_ / name).c_str(), &status), 0) << name;
    return status.st_mode;
  }
  void ExpectNoTemporaryFiles() const {
    for (const std::string& name : Extracted()) {
      EXPECT_EQ(name.find(".zipdrop-"), std::string::npos) << name;
    }
  }

  ScratchFolder scratch_;
  std::filesystem::path root_ = scratch_.Path();
  std::filesystem::path out_ = root_ / "out";
  std::filesystem::path outside_ = root_ / "outside";
  std::string archive_ = scratch_ / "a.zip";
  std::vector<std::string> outsideNames_{"x"};  // A test that puts more there adds it here.
  mode_t oldUmask_ = 0;
};

}  // namespace zipdrop::testing
