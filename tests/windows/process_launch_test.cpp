// Launching real processes: the window style reaches the new process, and a program named without
// a folder is never taken from the launching program's own folder.
#include "platform/windows/process_launch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/windows/handle_owner.h"
#include "platform/windows/windows_platform.h"
#include "tests/windows/windows_test_support.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::BinaryFolder;
using testing::ScratchFolder;
std::wstring SystemFolder();

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
  return text;
}

// Runs each launch against the probe, which reports through a file named in the environment it
// inherits from this process.
class LaunchTest : public ::testing::Test {
 protected:
  LaunchTest() : scratch_(L"launch"), report_(scratch_.Path() / L"report.txt") {
    SetEnvironmentVariableW(L"ZIPDROP_PROBE_REPORT", report_.c_str());
  }
  ~LaunchTest() override { SetEnvironmentVariableW(L"ZIPDROP_PROBE_REPORT", nullptr); }

  // Waits for the process to end, then returns the probe's report, if a probe ran at all. A
  // process that cannot be opened any more has already ended.
  std::optional<std::wstring> ReportAfterExit(std::int64_t processId) {
    HandleOwner process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId)));
    if (process.IsValid()) {
      EXPECT_EQ(WaitForSingleObject(process.Get(), 60000), WAIT_OBJECT_0);
    }
    if (!fs::exists(report_)) return std::nullopt;
    std::ifstream in(report_, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    fs::remove(report_);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  }

  const fs::path probe_ = BinaryFolder() / L"zipdrop_launch_probe.exe";
  ScratchFolder scratch_;
  fs::path report_;
  WindowsPlatform platform_;
};

class WindowStyleTest : public LaunchTest, public ::testing::WithParamInterface<int> {};

TEST_P(WindowStyleTest, StartsTheProcessWithTheGivenWindowStyle) {
  std::wstring line = L"\"" + probe_.wstring() + L"\" some argument";
  std::int64_t id = platform_.LaunchCommandLine(std::u16string(line.begin(), line.end()), GetParam());
  EXPECT_GT(id, 0);
  std::optional<std::wstring> report = ReportAfterExit(id);
  ASSERT_TRUE(report) << "the probe did not run";
  EXPECT_EQ(Lower(*report), Lower(std::to_wstring(GetParam()) + L"\n" + probe_.wstring() + L"\n" +
                                  SystemFolder() + L"\n" + line));
}

INSTANTIATE_TEST_SUITE_P(Styles, WindowStyleTest, ::testing::Values(0, 1, 2, 7));

// A file planted beside the running program under the system program's name, as an archive
// extracted into zipdrop's folder could plant it.
class PlantedProgram {
 public:
  explicit PlantedProgram(const fs::path& probe) : path_(BinaryFolder() / L"RunDll32.exe") {
    fs::copy_file(probe, path_, fs::copy_options::overwrite_existing);
  }
  ~PlantedProgram() {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

class PlantedProgramTest : public LaunchTest, public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(PlantedProgramTest, IsNeverStartedForABareName) {
  PlantedProgram planted(probe_);
  EXPECT_FALSE(ReportAfterExit(platform_.LaunchCommandLine(GetParam(), 1)))
      << "the RunDll32.exe in the program's own folder was run";
  // The planted copy does run when named with its folder, so the check above can fail.
  std::wstring direct = L"\"" + planted.Path().wstring() + L"\"";
  EXPECT_TRUE(ReportAfterExit(platform_.LaunchCommandLine(std::u16string(direct.begin(), direct.end()), 1)));
}

INSTANTIATE_TEST_SUITE_P(Names, PlantedProgramTest,
                         ::testing::Values(u"RunDll32.exe", u"rundll32", u"\"RUNDLL32.EXE\""));

class FileProtocolTargetTest
    : public ::testing::TestWithParam<std::pair<const wchar_t*, std::optional<std::wstring>>> {};

TEST_P(FileProtocolTargetTest, FindsThePathTheHandlerOpens) {
  EXPECT_EQ(FileProtocolTarget(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FileProtocolTargetTest,
    ::testing::Values(
        std::pair(LR"(RunDll32.exe url.dll, FileProtocolHandler D:\my tools\photos)",
                  LR"(D:\my tools\photos)"),
        std::pair(L"rundll32 URL,fileprotocolhandler\tx ", L"x"),
        std::pair(LR"(C:\Windows\rundll32.exe "C:\Windows\url.dll" ,FileProtocolHandler x)", L"x"),
        std::pair(L"RunDll32.exe url.dll, FileProtocolHandler", L""),
        std::pair(L"RunDll32.exe shell32.dll,Control_RunDLL x", std::nullopt),
        std::pair(L"RunDll32.exe url.dll,OpenURL x", std::nullopt),
        std::pair(L"notepad.exe url.dll, FileProtocolHandler x", std::nullopt)));

// Only a folder is safe to hand to the handler; for a missing path or a file nothing is started.
TEST_F(LaunchTest, StartsTheHandlerOnlyForAnExistingFolder) {
  std::ofstream(scratch_.Path() / L"file") << "x";
  for (const wchar_t* name : {L"photos", L"file"}) {
    std::wstring line =
        L"RunDll32.exe url.dll, FileProtocolHandler " + (scratch_.Path() / name).wstring();
    EXPECT_THROW(platform_.LaunchCommandLine(std::u16string(line.begin(), line.end()), 1),
                 PlatformError)
        << name;
  }
}

// What the handler is given, seen through the probe run as rundll32, under code page 1252 and
// under 932 (run_wine_tests.sh runs both). Best fit would make "café" "cafe", where a cafe.exe may
// wait, and "x＼evil" a path to x\evil.exe: the short name goes instead, or nothing where short
// names are off. A verbatim path has the doubled separator of a "\\?\C:\" folder. The handler may
// expand "evil%OS%" to a path to evilWindows_NT.exe, and is not long-path aware.
enum class Handed { kAsChecked, kShortName, kNothing };
struct HandlerRow {
  const wchar_t* name;
  bool shortNames;
  Handed under1252;
  Handed under932;
  bool verbatim = false;
};

class HandlerFolderTest : public LaunchTest, public ::testing::WithParamInterface<HandlerRow> {};

TEST_P(HandlerFolderTest, IsGivenOnlyAPathThatTheAnsiCodePageLeavesAsItIs) {
  const HandlerRow& row = GetParam();
  Handed expected = GetACP() == 932 ? row.under932 : row.under1252;
  PlantedProgram handler(probe_);
  fs::create_directories(scratch_.Path() / row.name);
  std::ofstream(scratch_.Path() / row.name / L"marker") << "x";
  std::wstring folder = (row.verbatim ? LR"(\\?\)" : L"") + (scratch_.Path() / row.name).wstring();
  std::wstring written = folder;
  if (row.verbatim) written.insert(written.rfind(L'\\'), L"\\");
  std::wstring line =
      L"\"" + handler.Path().wstring() + L"\" url.dll,FileProtocolHandler " + written;
  auto read = row.shortNames ? &ShortFormOf : +[](const std::wstring& path) { return path; };
  if (expected == Handed::kNothing) {
    EXPECT_THROW(ReportAfterExit(LaunchProcess(line, 1, read)), PlatformError);
    return;
  }
  std::optional<std::wstring> report = ReportAfterExit(LaunchProcess(line, 1, read));
  ASSERT_TRUE(report) << "the probe did not run";
  std::wstring handed = FileProtocolTarget(report->substr(report->rfind(L'\n') + 1)).value_or(L"");
  bool ascii = std::all_of(handed.begin(), handed.end(), [](wchar_t c) { return c < 0x80; });
  EXPECT_TRUE(expected == Handed::kAsChecked ? handed == folder : handed != folder && ascii)
      << handed;
  EXPECT_NE(GetFileAttributesW((handed + L"\\marker").c_str()), INVALID_FILE_ATTRIBUTES) << handed;
}

INSTANTIATE_TEST_SUITE_P(
    Names, HandlerFolderTest,
    ::testing::Values(HandlerRow{L"plain", true, Handed::kAsChecked, Handed::kAsChecked},
                      HandlerRow{L"plain", true, Handed::kAsChecked, Handed::kAsChecked, true},
                      HandlerRow{L"caf\u00E9", true, Handed::kAsChecked, Handed::kShortName},
                      HandlerRow{L"x\uFF3Cevil", true, Handed::kShortName, Handed::kAsChecked},
                      HandlerRow{L"x\uFF3Cevil", false, Handed::kNothing, Handed::kAsChecked},
                      HandlerRow{L"x\u00A5evil", false, Handed::kAsChecked, Handed::kNothing},
                      HandlerRow{L"\u5199\u771F\u30A2\u30EB\u30D0\u30E0", false, Handed::kNothing,
                                 Handed::kAsChecked},
                      HandlerRow{L"evil%OS%", false, Handed::kNothing, Handed::kNothing}));

// Neither rundll32 nor the handler is long-path aware: a path of MAX_PATH characters or more goes
// as its short form when that is shorter, and not at all otherwise.
TEST(HandlerFormTest, IsShorterThanMaxPath) {
  std::wstring longest(MAX_PATH - 1, L'x'), tooLong(MAX_PATH, L'x');
  auto shortForm = +[](const std::wstring&) { return std::wstring(L"C:\\XXXXXX~1"); };
  EXPECT_EQ(HandlerFormOf(longest, shortForm), longest);
  EXPECT_EQ(HandlerFormOf(tooLong, shortForm), L"C:\\XXXXXX~1");
  EXPECT_EQ(HandlerFormOf(tooLong, +[](const std::wstring& path) { return path; }), std::nullopt);
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

TEST(TrustedProgramPathTest, FindsBareNamesInTheSystemFolder) {
  EXPECT_EQ(Lower(TrustedProgramPath(L"RunDll32.exe url.dll, FileProtocolHandler C:\\x")),
            Lower(SystemFolder() + L"\\rundll32.exe"));
  EXPECT_EQ(Lower(TrustedProgramPath(L"rundll32")), Lower(SystemFolder() + L"\\rundll32.exe"));
}

TEST(TrustedProgramPathTest, LeavesNamesWithAFolderAsWritten) {
  for (const wchar_t* line : {L"\"C:\\Some Folder\\tool.exe\" a", L"tools\\x.exe b", L"C:x.exe",
                              L"./x.exe"}) {
    EXPECT_EQ(TrustedProgramPath(line), L"") << line;
  }
}

TEST(TrustedProgramPathTest, RefusesBareNamesOutsideTheSystemFolders) {
  EXPECT_THROW(TrustedProgramPath(L"zipdrop_launch_probe.exe"), PlatformError);
  EXPECT_THROW(TrustedProgramPath(L""), PlatformError);
}

}  // namespace
}  // namespace zipdrop
