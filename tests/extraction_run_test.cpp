#include "app/extraction_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fake_platform.h"

namespace zipdrop {
namespace {

const char kNotZip[] = "エラー|Zipファイルではありません|16";
const std::string kHandler = "RunDll32.exe url.dll, FileProtocolHandler ";

bool HasCallStartingWith(const FakePlatform& platform, const std::string& prefix) {
  return std::any_of(platform.calls.begin(), platform.calls.end(),
                     [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
}

TEST(ExtractionRunTest, ZipPathRunsEveryStepInOrder) {
  FakePlatform platform;
  ExtractDroppedArchive(platform, u"C:\\data\\photos.zip");
  EXPECT_EQ(platform.calls, (std::vector<std::string>{
      "CreateAutomationObject(Shell.Application)",
      "ReadProgramFolder()",
      "CallMember(shell, Namespace, \"C:\\data\\photos.zip\")",
      "CallMember(folder(C:\\data\\photos.zip), items)",
      "CallMember(shell, Namespace, \"D:\\tools\")",
      "CallMember(folder(D:\\tools), CopyHere, items(C:\\data\\photos.zip))",
      "CreateAutomationObject(scripting.filesystemobject)",
      "ReadEnvironment(Temp)",
      "CallMember(filesystem, deletefolder, "
      "\"C:\\Users\\u\\AppData\\Local\\Temp\\Temporary Directory*\", true)",
      "ReadProgramFolder()",
      "LaunchCommandLine(" + kHandler + "D:\\tools\\photos, 1)",
  }));
  EXPECT_TRUE(platform.messages.empty());
}

TEST(ExtractionRunTest, CallerTextIsLeftAlone) {
  FakePlatform platform;
  std::u16string text = u"\"C:\\my docs\\a.zip\"";
  ExtractDroppedArchive(platform, text);
  EXPECT_EQ(text, u"\"C:\\my docs\\a.zip\"");
}

// Where a dropped name leads: the folder that is opened, or a rejection.
struct NameCase {
  const char* label;
  std::u16string argument;
  std::u16string programFolder;
  std::string opened;  // Empty when the name is rejected.
};

class NameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameTest, OpensTheExpectedFolderOrRejects) {
  const NameCase& c = GetParam();
  FakePlatform platform;
  platform.programFolder = c.programFolder;
  ExtractDroppedArchive(platform, c.argument);
  if (c.opened.empty()) {
    EXPECT_EQ(platform.messages, std::vector<std::string>{kNotZip});
    EXPECT_EQ(platform.calls, std::vector<std::string>{"ShowMessage(エラー)"});
  } else {
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(platform.launches, std::vector<std::string>{kHandler + c.opened});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameTest,
    ::testing::Values(
        NameCase{"Plain", u"C:\\data\\photos.zip", u"D:\\tools", "D:\\tools\\photos"},
        NameCase{"Quoted", u"\"C:\\my docs\\a.zip\"", u"D:\\tools", "D:\\tools\\a"},
        NameCase{"LowerCase", u"C:\\a.zip", u"D:\\tools", "D:\\tools\\a"},
        NameCase{"MixedCase", u"C:\\a.Zip", u"D:\\tools", "D:\\tools\\a"},
        NameCase{"NoDotButZip", u"zip", u"D:\\tools", "D:\\tools\\zip"},
        NameCase{"ManyDots", u"C:\\photos.2011.zip", u"D:\\tools", "D:\\tools\\photos"},
        NameCase{"DottedFolder", u"C:\\my.files\\photos.zip", u"D:\\tools", "D:\\tools\\photos"},
        NameCase{"DottedUser", u"C:\\Users\\john.smith\\Downloads\\photos.zip", u"D:\\tools",
                 "D:\\tools\\photos"},
        NameCase{"SlashesToo", u"C:/my.files/photos.zip", u"D:\\tools", "D:\\tools\\photos"},
        NameCase{"DotFileName", u"C:\\dir\\.zip", u"D:\\tools", "D:\\tools\\"},
        NameCase{"RootProgramFolder", u"C:\\a.zip", u"D:\\", "D:\\\\a"},
        NameCase{"JapaneseName", u"C:\\写真\\旅行.zip", u"D:\\道具", "D:\\道具\\旅行"},
        NameCase{"TwoQuotedPaths", u"\"C:\\a b\\x.zip\" \"C:\\c\\y.zip\"", u"D:\\tools",
                 "D:\\tools\\y"},
        NameCase{"NoExtension", u"C:\\data\\photos", u"D:\\tools", ""},
        NameCase{"TrailingDot", u"C:\\data\\photos.zip.", u"D:\\tools", ""},
        NameCase{"OtherExtension", u"C:\\data\\photos.zip.bak", u"D:\\tools", ""},
        NameCase{"Blanks", u"   ", u"D:\\tools", ""},
        NameCase{"TwoQuotes", u"\"\"", u"D:\\tools", ""},
        NameCase{"LoneQuote", u"\"", u"D:\\tools", ""},
        NameCase{"FullWidthZip", u"C:\\a.ＺＩＰ", u"D:\\tools", ""}),
    [](const auto& info) { return std::string(info.param.label); });

// A relative name that starts with a dot has an empty stem: nothing is left to name a folder,
// so the handler gets the bare prefix, as on Windows.
TEST(ExtractionRunTest, EmptyStemLaunchesTheBarePrefix) {
  FakePlatform platform;
  ExtractDroppedArchive(platform, u".zip");
  EXPECT_EQ(platform.launches, std::vector<std::string>{kHandler});
  EXPECT_TRUE(platform.messages.empty());
}

TEST(ExtractionRunTest, QuotedArchivePathIsWhatTheShellOpens) {
  FakePlatform platform;
  ExtractDroppedArchive(platform, u"\"C:\\my docs\\a.zip\"");
  EXPECT_TRUE(HasCallStartingWith(platform, "CallMember(shell, Namespace, \"C:\\my docs\\a.zip\")"));
}

TEST(ExtractionRunTest, MissingArchiveStillCleansUpAndOpensSilently) {
  FakePlatform platform;
  platform.missingPaths = {u"C:\\data\\gone.zip"};
  ExtractDroppedArchive(platform, u"C:\\data\\gone.zip");
  EXPECT_FALSE(HasCallStartingWith(platform, "CallMember(folder(D:\\tools), CopyHere"));
  EXPECT_TRUE(HasCallStartingWith(platform, "CallMember(filesystem, deletefolder"));
  EXPECT_EQ(platform.launches, std::vector<std::string>{kHandler + "D:\\tools\\gone"});
  EXPECT_TRUE(platform.messages.empty());
}

TEST(ExtractionRunTest, PosixSeparatorSplitsAndJoinsWithSlash) {
  FakePlatform platform;
  platform.separator = u'/';
  platform.programFolder = u"/opt/zipdrop";
  platform.environment = {{u"TEMP", u"/tmp/u"}};
  ExtractDroppedArchive(platform, u"/home/u/.cache/a\\b.zip");
  EXPECT_TRUE(HasCallStartingWith(
      platform, "CallMember(filesystem, deletefolder, \"/tmp/u/Temporary Directory*\", true)"));
  // A backslash is an ordinary character of a POSIX file name.
  EXPECT_EQ(platform.launches, std::vector<std::string>{kHandler + "/opt/zipdrop/a\\b"});
}

// Without an absolute temporary directory the pattern would point at the current folder or the
// root, so the clean-up is skipped while the rest of the run goes on.
struct TempCase {
  const char* label;
  char16_t separator;
  std::u16string temp;  // Empty: variable not set.
  bool cleansUp;
};

class TempTest : public ::testing::TestWithParam<TempCase> {};

TEST_P(TempTest, CleansUpOnlyInsideAnAbsoluteTemporaryDirectory) {
  const TempCase& c = GetParam();
  FakePlatform platform;
  platform.separator = c.separator;
  platform.environment.clear();
  if (!c.temp.empty()) platform.environment[u"temp"] = c.temp;
  ExtractDroppedArchive(platform, u"C:\\a.zip");
  EXPECT_EQ(HasCallStartingWith(platform, "CallMember(filesystem, deletefolder"), c.cleansUp);
  EXPECT_EQ(platform.launches.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Temps, TempTest,
    ::testing::Values(TempCase{"Unset", u'\\', u"", false},
                      TempCase{"Relative", u'\\', u"Temp", false},
                      TempCase{"DriveRelative", u'\\', u"C:Temp", false},
                      TempCase{"RootedWithoutDrive", u'\\', u"\\Temp", false},
                      TempCase{"Drive", u'\\', u"C:\\Temp", true},
                      TempCase{"Unc", u'\\', u"\\\\server\\share\\tmp", true},
                      TempCase{"PosixRelative", u'/', u"tmp", false},
                      TempCase{"PosixAbsolute", u'/', u"/tmp", true}),
    [](const auto& info) { return std::string(info.param.label); });

// Every platform call of a successful run, failed in turn: nothing escapes, no message appears,
// and the steps after the failing one still run.
TEST(ExtractionRunTest, EachFailingCallIsPassedOverSilently) {
  FakePlatform reference;
  ExtractDroppedArchive(reference, u"C:\\data\\photos.zip");
  const size_t callCount = reference.calls.size();
  ASSERT_EQ(callCount, 11u);

  for (size_t failing = 0; failing < callCount; ++failing) {
    SCOPED_TRACE("failing call: " + reference.calls[failing]);
    FakePlatform platform;
    platform.failCallIndex = static_cast<int>(failing);
    EXPECT_NO_THROW(ExtractDroppedArchive(platform, u"C:\\data\\photos.zip"));
    EXPECT_TRUE(platform.messages.empty());
    ASSERT_FALSE(platform.calls.empty());
    EXPECT_EQ(platform.calls.back().rfind("LaunchCommandLine(", 0), 0u);
    bool cleanUpPrepared = reference.calls[failing].find("filesystemobject") == std::string::npos &&
                           reference.calls[failing] != "ReadEnvironment(Temp)";
    EXPECT_EQ(HasCallStartingWith(platform, "CallMember(filesystem, deletefolder"), cleanUpPrepared);
  }
}

TEST(ExtractionRunTest, FailedShellObjectSkipsOnlyTheCopy) {
  FakePlatform platform;
  platform.failWhenStartsWith = {"CreateAutomationObject(Shell"};
  ExtractDroppedArchive(platform, u"C:\\data\\photos.zip");
  EXPECT_FALSE(HasCallStartingWith(platform, "CallMember(shell"));
  EXPECT_TRUE(HasCallStartingWith(platform, "CallMember(filesystem, deletefolder"));
  EXPECT_EQ(platform.launches, std::vector<std::string>{kHandler + "D:\\tools\\photos"});
}

// A program folder that cannot be read again keeps the stem as the folder to open.
TEST(ExtractionRunTest, UnreadableProgramFolderOpensTheStem) {
  FakePlatform platform;
  platform.failWhenStartsWith = {"ReadProgramFolder"};
  ExtractDroppedArchive(platform, u"C:\\data\\photos.zip");
  EXPECT_EQ(platform.launches, std::vector<std::string>{kHandler + "C:\\data\\photos"});
}

TEST(ExtractionRunTest, FailingRejectionMessageDoesNotEscape) {
  FakePlatform platform;
  platform.failWhenStartsWith = {"ShowMessage"};
  EXPECT_NO_THROW(ExtractDroppedArchive(platform, u"C:\\data\\photos.txt"));
  EXPECT_TRUE(platform.launches.empty());
}

TEST(OpenWithHandlerTest, PassesThePathUnquotedAndTheWindowStyle) {
  FakePlatform platform;
  OpenWithHandler(platform, u"D:\\my tools\\a b", 1);
  EXPECT_EQ(platform.calls,
            std::vector<std::string>{"LaunchCommandLine(" + kHandler + "D:\\my tools\\a b, 1)"});
}

TEST(OpenWithHandlerTest, FailedLaunchReachesTheCaller) {
  FakePlatform platform;
  platform.failWhenStartsWith = {"LaunchCommandLine"};
  EXPECT_THROW(OpenWithHandler(platform, u"D:\\tools\\a", 1), PlatformError);
}

}  // namespace
}  // namespace zipdrop
