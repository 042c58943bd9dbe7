// The automation calls that the extraction run makes, against the system's real COM classes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/windows/windows_platform.h"
#include "tests/windows/windows_test_support.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

class AutomationTest : public ::testing::Test {
 protected:
  ObjectRef Object(const Value& value) {
    const ObjectRef* object = std::get_if<ObjectRef>(&value);
    EXPECT_TRUE(object && *object) << "expected an object";
    return object ? *object : nullptr;
  }

  WindowsPlatform platform_;
};

class ProgIdTest : public AutomationTest, public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(ProgIdTest, CreatesTheRegisteredClass) {
  EXPECT_NE(platform_.CreateAutomationObject(GetParam()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(ProgIds, ProgIdTest,
                         ::testing::Values(u"Shell.Application", u"scripting.filesystemobject",
                                           u"SHELL.APPLICATION"));

TEST_F(AutomationTest, UnknownProgIdFails) {
  EXPECT_THROW(platform_.CreateAutomationObject(u"ZipDrop.NoSuchClass"), PlatformError);
}

TEST_F(AutomationTest, NamespaceAndItemsListARealFolder) {
  ScratchFolder folder(L"namespace");
  std::ofstream(folder.Path() / "a.txt") << "a";
  std::ofstream(folder.Path() / "b.txt") << "b";
  ObjectRef shell = platform_.CreateAutomationObject(u"Shell.Application");
  ObjectRef namespaceFolder = Object(platform_.CallMember(shell, u"Namespace", {folder.Text()}));
  ObjectRef items = Object(platform_.CallMember(namespaceFolder, u"items", {}));
  // Count is a number; it comes back as text, as a script caller would print it.
  EXPECT_EQ(platform_.CallMember(items, u"Count", {}), Value(std::u16string(u"2")));
}

TEST_F(AutomationTest, NamespaceOfAMissingFolderIsNothing) {
  ScratchFolder folder(L"missing");
  ObjectRef shell = platform_.CreateAutomationObject(u"Shell.Application");
  Value result = platform_.CallMember(shell, u"Namespace", {folder.Text() + u"\\absent"});
  EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
}

TEST_F(AutomationTest, UnknownMemberAndMissingObjectFail) {
  ObjectRef shell = platform_.CreateAutomationObject(u"Shell.Application");
  EXPECT_THROW(platform_.CallMember(shell, u"NoSuchMember", {}), PlatformError);
  EXPECT_THROW(platform_.CallMember(nullptr, u"Namespace", {u"C:\\"}), PlatformError);
}

TEST_F(AutomationTest, DeleteFolderRemovesOnlyMatchingFoldersAndFailsWhenNoneMatch) {
  ScratchFolder temp(L"deletefolder");
  const fs::path doomed[] = {temp.Path() / L"Temporary Directory 1 for a.zip",
                             temp.Path() / L"Temporary Directory 2 for b.zip"};
  const fs::path kept[] = {temp.Path() / L"Temporary Stuff", temp.Path() / L"Keep Me",
                           temp.Path() / L"My Temporary Directory"};
  for (const fs::path& folder : doomed) fs::create_directories(folder / L"inner");
  for (const fs::path& folder : kept) fs::create_directories(folder);
  std::ofstream(doomed[0] / L"inner" / L"file.txt") << "x";

  ObjectRef files = platform_.CreateAutomationObject(u"scripting.filesystemobject");
  std::u16string pattern = temp.Text() + u"\\Temporary Directory*";
  platform_.CallMember(files, u"deletefolder", {pattern, true});

  for (const fs::path& folder : doomed) EXPECT_FALSE(fs::exists(folder)) << folder;
  for (const fs::path& folder : kept) EXPECT_TRUE(fs::exists(folder)) << folder;
  EXPECT_THROW(platform_.CallMember(files, u"deletefolder", {pattern, true}), PlatformError);
}

}  // namespace
}  // namespace zipdrop
