#include "platform/posix/shell_objects.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/posix/text_encoding.h"
#include "tests/posix/scratch_folder.h"
#include "tests/posix/zip_builder.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

struct ProgIdCase {
  const char16_t* progId;
  bool isShell;
};

class ProgIdTest : public ::testing::TestWithParam<ProgIdCase> {};

// The class is told apart by what it answers: only the shell has Namespace.
TEST_P(ProgIdTest, KnownClassesAreCreatedWhateverTheCase) {
  ObjectRef object = CreateShellObject(GetParam().progId);
  ASSERT_NE(object, nullptr);
  bool answersNamespace = false;
  try {
    answersNamespace =
        std::holds_alternative<ObjectRef>(CallShellMember(object, u"Namespace", {u"/"}).value);
  } catch (const PlatformError&) {
  }
  EXPECT_EQ(answersNamespace, GetParam().isShell);
}

INSTANTIATE_TEST_SUITE_P(Known, ProgIdTest,
                         ::testing::Values(ProgIdCase{u"Shell.Application", true},
                                           ProgIdCase{u"shell.application", true},
                                           ProgIdCase{u"SHELL.APPLICATION", true},
                                           ProgIdCase{u"scripting.filesystemobject", false},
                                           ProgIdCase{u"Scripting.FileSystemObject", false}));

class UnknownProgIdTest : public ::testing::TestWithParam<const char16_t*> {};

TEST_P(UnknownProgIdTest, Throws) { EXPECT_THROW(CreateShellObject(GetParam()), PlatformError); }

INSTANTIATE_TEST_SUITE_P(Unknown, UnknownProgIdTest,
                         ::testing::Values(u"WScript.Shell", u"Shell.Applicatio", u"",
                                           u"Shell.Application ", u"Scripting"));

// Strings, booleans and objects for calls, with an archive and folders to call them on.
class ShellObjectsTest : public ::testing::Test {
 protected:
  ShellObjectsTest() {
    testing::ZipBuilder().AddFile("result/a.txt", "hello").AddFolder("result/empty/").WriteTo(
        temp_ / "input.zip");
    fs::create_directory(temp_ / "dest");
    testing::WriteFile(temp_ / "plain.txt", "not an archive");
  }
  static Value Call(const ObjectRef& object, const std::u16string& member,
                    std::vector<Value> arguments = {}) {
    return CallShellMember(object, member, arguments).value;
  }
  ObjectRef Namespace(const std::string& path) {
    Value folder = Call(shell_, u"Namespace", {FromSystemBytes(path)});
    return std::holds_alternative<ObjectRef>(folder) ? std::get<ObjectRef>(folder) : nullptr;
  }

  ScratchFolder temp_;
  ObjectRef shell_ = CreateShellObject(u"Shell.Application");
  ObjectRef fileSystem_ = CreateShellObject(u"Scripting.FileSystemObject");
};

TEST_F(ShellObjectsTest, NamespaceGivesFoldersForDirectoriesAndArchivesOnly) {
  fs::create_directory(temp_ / "name \xFF");
  EXPECT_NE(Namespace(temp_ / "dest"), nullptr);
  EXPECT_NE(Namespace(temp_ / "input.zip"), nullptr);
  EXPECT_NE(Namespace(temp_ / "name \xFF"), nullptr);
  EXPECT_EQ(Call(shell_, u"Namespace", {u"" + FromSystemBytes(temp_ / "missing")}), Value());
  EXPECT_EQ(Call(shell_, u"Namespace", {FromSystemBytes(temp_ / "plain.txt")}), Value());
  EXPECT_EQ(Call(shell_, u"Namespace", {u""}), Value());
}

TEST_F(ShellObjectsTest, RelativeNamespaceIsTakenFromTheWorkingDirectory) {
  ObjectRef archive;
  {
    testing::ScopedWorkingDirectory cwd(temp_.Path());
    archive = Namespace("input.zip");
  }
  ASSERT_NE(archive, nullptr);
  Value items = Call(archive, u"items");
  Call(Namespace(temp_ / "dest"), u"CopyHere", {items});
  EXPECT_EQ(testing::ReadFile(temp_ / "dest/result/a.txt"), "hello");
}

TEST_F(ShellObjectsTest, CopyHereExtractsTheArchiveItems) {
  Value items = Call(Namespace(temp_ / "input.zip"), u"Items");
  EXPECT_EQ(Call(Namespace(temp_ / "dest"), u"copyhere", {items}), Value());
  EXPECT_EQ(testing::ReadFile(temp_ / "dest/result/a.txt"), "hello");
  EXPECT_TRUE(fs::is_directory(temp_ / "dest/result/empty"));
}

TEST_F(ShellObjectsTest, CopyHereIntoFolderNamedWithInvalidUtf8) {
  fs::create_directory(temp_ / "dest \xFF");
  Value items = Call(Namespace(temp_ / "input.zip"), u"items");
  Call(Namespace(temp_ / "dest \xFF"), u"CopyHere", {items});
  EXPECT_EQ(testing::ReadFile(temp_ / "dest \xFF/result/a.txt"), "hello");
}

TEST_F(ShellObjectsTest, UnsupportedCopiesThrow) {
  Value directoryItems = Call(Namespace(temp_ / "dest"), u"items");
  Value archiveItems = Call(Namespace(temp_ / "input.zip"), u"items");
  EXPECT_THROW(Call(Namespace(temp_ / "dest"), u"CopyHere", {directoryItems}), PlatformError);
  EXPECT_THROW(Call(Namespace(temp_ / "input.zip"), u"CopyHere", {archiveItems}), PlatformError);
  EXPECT_THROW(Call(Namespace(temp_ / "dest"), u"CopyHere", {Value(shell_)}), PlatformError);
  EXPECT_FALSE(fs::exists(temp_ / "dest/result"));
}

TEST_F(ShellObjectsTest, DeleteFolderRemovesMatchesByWildcard) {
  fs::create_directories(temp_ / "Temporary Directory \xFF 1/inside");
  fs::create_directories(temp_ / "Temporary Files");
  Call(fileSystem_, u"DeleteFolder",
       {FromSystemBytes(temp_ / "Temporary Directory \xFF*"), true});
  EXPECT_FALSE(fs::exists(temp_ / "Temporary Directory \xFF 1"));
  EXPECT_TRUE(fs::exists(temp_ / "Temporary Files"));
  EXPECT_THROW(Call(fileSystem_, u"deletefolder", {FromSystemBytes(temp_ / "Temporary D*")}),
               PlatformError);
}

TEST_F(ShellObjectsTest, MissingOrForeignObjectThrows) {
  struct Foreign : AutomationObject {};
  EXPECT_THROW(Call(nullptr, u"Namespace", {u"/"}), PlatformError);
  EXPECT_THROW(Call(std::make_shared<Foreign>(), u"Namespace", {u"/"}), PlatformError);
}

struct BadCall {
  const char* label;
  const char* object;  // "shell", "files", "folder" or "items".
  std::u16string member;
  std::vector<Value> arguments;
};

class BadCallTest : public ShellObjectsTest, public ::testing::WithParamInterface<BadCall> {};

TEST_P(BadCallTest, Throws) {
  const BadCall& c = GetParam();
  std::string kind = c.object;
  ObjectRef folder = Namespace(temp_ / "dest");
  ObjectRef object = kind == "shell"   ? shell_
                     : kind == "files" ? fileSystem_
                     : kind == "folder" ? folder
                                        : std::get<ObjectRef>(Call(folder, u"items"));
  EXPECT_THROW(Call(object, c.member, c.arguments), PlatformError);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, BadCallTest,
    ::testing::Values(
        BadCall{"UnknownShellMember", "shell", u"Open", {u"/"}},
        BadCall{"NamespaceWithoutArgument", "shell", u"Namespace", {}},
        BadCall{"NamespaceWithTwoArguments", "shell", u"Namespace", {u"/", u"/"}},
        BadCall{"NamespaceWithBoolean", "shell", u"Namespace", {true}},
        BadCall{"DeleteFolderWithoutArgument", "files", u"DeleteFolder", {}},
        BadCall{"DeleteFolderForceNotBoolean", "files", u"DeleteFolder", {u"/x*", u"yes"}},
        BadCall{"DeleteFolderThreeArguments", "files", u"DeleteFolder", {u"/x*", true, true}},
        BadCall{"FileSystemHasNoNamespace", "files", u"Namespace", {u"/"}},
        BadCall{"ItemsWithArgument", "folder", u"items", {u"x"}},
        BadCall{"CopyHereWithString", "folder", u"CopyHere", {u"/a.zip"}},
        BadCall{"CopyHereWithoutArgument", "folder", u"CopyHere", {}},
        BadCall{"ItemsHaveNoMembersHere", "items", u"Count", {}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace zipdrop
