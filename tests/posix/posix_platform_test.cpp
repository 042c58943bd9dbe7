#include "platform/posix/posix_platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

using testing::ScopedEnvironment;

// The platform copies what it needs from argv, so the strings only have to outlive the call.
PosixPlatform PlatformWith(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "zipdrop");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return PosixPlatform(static_cast<int>(arguments.size()), argv.data());
}

struct ArgumentCase {
  const char* label;
  std::vector<std::string> arguments;
  std::u16string text;
};

class ArgumentTextTest : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTextTest, RebuildsTheWindowsCommandLineTail) {
  EXPECT_EQ(PlatformWith(GetParam().arguments).ReadArgumentText(), GetParam().text);
}

// Quoting only what needs it reproduces what Explorer passes for one dropped file; the logic
// then strips the first and last character of any text holding a quote.
INSTANTIATE_TEST_SUITE_P(
    Arguments, ArgumentTextTest,
    ::testing::Values(
        ArgumentCase{"None", {}, u""},
        ArgumentCase{"Plain", {"/home/u/a.zip"}, u"/home/u/a.zip"},
        ArgumentCase{"Blank", {"/home/u/my file.zip"}, u"\"/home/u/my file.zip\""},
        ArgumentCase{"Tab", {"/a\tb.zip"}, u"\"/a\tb.zip\""},
        ArgumentCase{"Quote", {"/a\"b.zip"}, u"\"/a\"b.zip\""},
        ArgumentCase{"Several", {"/a.zip", "b c", "d"}, u"/a.zip \"b c\" d"},
        ArgumentCase{"EmptyArgument", {""}, u""},
        ArgumentCase{"Japanese", {"/\xE8\xA7\xA3.zip"}, u"/解.zip"},
        ArgumentCase{"InvalidUtf8", {"/\xFF.zip"}, u"/\xDCFF.zip"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(PosixPlatformTest, EnvironmentNameMatchesRegardlessOfCase) {
  ScopedEnvironment variable("ZipDrop_Test_Variable", "/tmp/\xE4\xB8\x80");
  PosixPlatform platform = PlatformWith({});
  EXPECT_EQ(platform.ReadEnvironment(u"ZIPDROP_TEST_VARIABLE"), u"/tmp/一");
  EXPECT_EQ(platform.ReadEnvironment(u"zipdrop_test_variable"), u"/tmp/一");
  EXPECT_EQ(platform.ReadEnvironment(u"ZipDrop_Test_Variabl"), u"");
  EXPECT_EQ(platform.ReadEnvironment(u"ZipDrop_Test_Variable="), u"");
}

TEST(PosixPlatformTest, UnsetOrEmptyEnvironmentIsEmpty) {
  ScopedEnvironment unset("ZIPDROP_TEST_UNSET", std::nullopt);
  ScopedEnvironment empty("ZIPDROP_TEST_EMPTY", "");
  PosixPlatform platform = PlatformWith({});
  EXPECT_EQ(platform.ReadEnvironment(u"zipdrop_test_unset"), u"");
  EXPECT_EQ(platform.ReadEnvironment(u"zipdrop_test_empty"), u"");
}

// The test binary lives in the tests folder of the build folder that also holds zipdrop.
TEST(PosixPlatformTest, ProgramFolderIsTheTestBinarysFolder) {
  std::filesystem::path buildFolder =
      std::filesystem::canonical(std::filesystem::path(ZIPDROP_EXE).parent_path());
  EXPECT_EQ(PlatformWith({}).ReadProgramFolder(), (buildFolder / "tests").u16string());
}

TEST(PosixPlatformTest, ProgramFolderStaysWhenWorkingDirectoryChanges) {
  PosixPlatform platform = PlatformWith({});
  std::u16string before = platform.ReadProgramFolder();
  testing::ScratchFolder elsewhere;
  testing::ScopedWorkingDirectory cwd(elsewhere.Path());
  EXPECT_EQ(platform.ReadProgramFolder(), before);
  EXPECT_NE(before.back(), u'/');
}

TEST(PosixPlatformTest, SeparatorIsSlash) { EXPECT_EQ(PlatformWith({}).PathSeparator(), u'/'); }

}  // namespace
}  // namespace zipdrop
