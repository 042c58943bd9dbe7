// The platform's reads of its own process: environment, program folder and message-box checks.
#include "platform/windows/windows_platform.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/windows/module_path.h"
#include "tests/windows/windows_test_support.h"

namespace zipdrop {
namespace {

class EnvironmentTest : public ::testing::TestWithParam<const char16_t*> {
 protected:
  EnvironmentTest() { SetEnvironmentVariableW(L"ZipDrop_Test_Value", L"C:\\Temp\\ここ"); }
  ~EnvironmentTest() override { SetEnvironmentVariableW(L"ZipDrop_Test_Value", nullptr); }

  WindowsPlatform platform_;
};

TEST_P(EnvironmentTest, FindsTheVariableRegardlessOfCase) {
  EXPECT_EQ(platform_.ReadEnvironment(GetParam()), u"C:\\Temp\\ここ");
}

INSTANTIATE_TEST_SUITE_P(Spellings, EnvironmentTest,
                         ::testing::Values(u"ZipDrop_Test_Value", u"ZIPDROP_TEST_VALUE",
                                           u"zipdrop_test_value"));

TEST(EnvironmentReadTest, UnsetAndEmptyVariablesReadAsEmpty) {
  WindowsPlatform platform;
  EXPECT_EQ(platform.ReadEnvironment(u"ZIPDROP_NEVER_SET_ANYWHERE"), u"");
  SetEnvironmentVariableW(L"ZIPDROP_EMPTY", L"");
  EXPECT_EQ(platform.ReadEnvironment(u"ZIPDROP_EMPTY"), u"");
  SetEnvironmentVariableW(L"ZIPDROP_EMPTY", nullptr);
}

TEST(EnvironmentReadTest, ReadsAValueLongerThanAnyFirstGuess) {
  std::wstring longValue(20000, L'x');
  longValue += L"end";
  SetEnvironmentVariableW(L"ZIPDROP_LONG", longValue.c_str());
  WindowsPlatform platform;
  EXPECT_EQ(platform.ReadEnvironment(u"ZIPDROP_LONG"),
            std::u16string(longValue.begin(), longValue.end()));
  SetEnvironmentVariableW(L"ZIPDROP_LONG", nullptr);
}

TEST(ProgramFolderTest, IsTheFolderHoldingTheRunningBinary) {
  WindowsPlatform platform;
  std::u16string folder = platform.ReadProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), u'\\');
  std::filesystem::path self = std::filesystem::path(std::wstring(folder.begin(), folder.end())) /
                               L"zipdrop_tests.exe";
  EXPECT_TRUE(std::filesystem::exists(self)) << self;
}

class FolderOfModuleTest
    : public ::testing::TestWithParam<std::pair<const wchar_t*, const wchar_t*>> {};

TEST_P(FolderOfModuleTest, KeepsTheBackslashOnlyAtARoot) {
  EXPECT_EQ(FolderOfModule(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FolderOfModuleTest,
    ::testing::Values(std::pair(LR"(C:\zd\zipdrop.exe)", LR"(C:\zd)"),
                      std::pair(LR"(C:\zipdrop.exe)", LR"(C:\)"),
                      std::pair(LR"(\\?\C:\zipdrop.exe)", LR"(\\?\C:\)"),
                      std::pair(LR"(\\?\C:\zd\zipdrop.exe)", LR"(\\?\C:\zd)"),
                      std::pair(LR"(\\?\Volume{1b3}\zipdrop.exe)", LR"(\\?\Volume{1b3}\)"),
                      std::pair(LR"(\\?\UNC\host\share\zd.exe)", LR"(\\?\UNC\host\share)"),
                      std::pair(LR"(\\host\share\zipdrop.exe)", LR"(\\host\share)")));

TEST(ModulePathTest, APathWithoutFolderHasNoProgramFolder) {
  EXPECT_THROW(FolderOfModule(L"zipdrop.exe"), PlatformError);
}

TEST(ShowMessageTest, RefusesAnIconCodeItDoesNotKnow) {
  WindowsPlatform platform;
  EXPECT_THROW(platform.ShowMessage(u"text", u"title", 64), PlatformError);
}

}  // namespace
}  // namespace zipdrop
