#include "platform/posix/process_launch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/platform_error.h"
#include "platform/posix/text_encoding.h"
#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ReadRecordedArguments;
using testing::ScopedEnvironment;
using testing::ScratchFolder;
using testing::WriteRecorderScript;

struct HandlerCase {
  const char* label;
  std::u16string line;
  std::optional<std::u16string> target;
};

class HandlerTargetTest : public ::testing::TestWithParam<HandlerCase> {};

TEST_P(HandlerTargetTest, RecognisesTheFolderOpener) {
  EXPECT_EQ(HandlerTarget(GetParam().line), GetParam().target);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HandlerTargetTest,
    ::testing::Values(
        HandlerCase{"AsTheLogicWritesIt", u"RunDll32.exe url.dll, FileProtocolHandler /a/b",
                    u"/a/b"},
        HandlerCase{"RestIsVerbatim", u"RunDll32.exe url.dll, FileProtocolHandler  \"x y\" z",
                    u" \"x y\" z"},
        HandlerCase{"CaseIgnored", u"rundll32.EXE URL.DLL, fileprotocolhandler /a", u"/a"},
        HandlerCase{"WithoutExe", u"RunDll32 url.dll, FileProtocolHandler /a", u"/a"},
        HandlerCase{"EmptyTarget", u"RunDll32.exe url.dll, FileProtocolHandler ", u""},
        HandlerCase{"OtherEntryPoint", u"RunDll32.exe shell32.dll,Control_RunDLL x",
                    std::nullopt},
        HandlerCase{"OtherProgram", u"RunDll32x.exe url.dll, FileProtocolHandler /a",
                    std::nullopt},
        HandlerCase{"PlainCommand", u"xdg-open /a", std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

// Each test gets a folder of trusted programs that is the whole PATH, a stand-in for the
// program folder, and a place for what the programs record.
class LaunchTest : public ::testing::Test {
 protected:
  LaunchTest() : path_("PATH", bin_.Path()) {}
  ~LaunchTest() override {
    for (pid_t child : children_) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
  }

  // Launches with the opener chosen from the PATH of the moment, as the platform does.
  std::int64_t Launch(std::u16string_view line) {
    return LaunchCommandLine(line, programFolder_.Path(), ChooseDesktopOpener(programFolder_.Path()));
  }

  // Launches and waits for the program to finish; true when it ran and exited with 0.
  bool LaunchAndWait(const std::u16string& line) {
    pid_t child = static_cast<pid_t>(Launch(line));
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  std::string Record() const { return work_ / "record"; }

  ScratchFolder bin_, programFolder_, work_;
  ScopedEnvironment path_;
  std::vector<pid_t> children_;
};

TEST_F(LaunchTest, StartsProgramFromPathWithSplitArguments) {
  WriteRecorderScript(bin_ / "recorder", Record());
  ASSERT_TRUE(LaunchAndWait(u"recorder \"a b\" c\\\"d \u89E3\u51CD"));
  EXPECT_EQ(ReadRecordedArguments(Record()),
            (std::vector<std::string>{"a b", "c\"d", "\xE8\xA7\xA3\xE5\x87\x8D"}));
}

TEST_F(LaunchTest, ProgramWithFolderIsTakenAsGiven) {
  WriteRecorderScript(work_ / "given", Record());
  ASSERT_TRUE(LaunchAndWait(u"\"" + FromSystemBytes(work_ / "given") + u"\" x"));
  EXPECT_EQ(ReadRecordedArguments(Record()), std::vector<std::string>{"x"});
}

TEST_F(LaunchTest, ChildRunsDetachedInItsOwnSession) {
  testing::WriteFile(bin_ / "sleeper", "#!/bin/sh\nPATH=/usr/bin:/bin exec sleep 30\n", 0755);
  pid_t child = static_cast<pid_t>(Launch(u"sleeper"));
  children_.push_back(child);
  EXPECT_EQ(getsid(child), child);
  if (fs::exists("/proc/self/fd")) {
    for (int fd : {0, 1, 2}) {
      std::string stream = "/proc/" + std::to_string(child) + "/fd/" + std::to_string(fd);
      EXPECT_EQ(fs::read_symlink(stream), "/dev/null") << fd;
    }
  }
}

// The program folder has just received an archive's files and the current directory can be
// anywhere: a program planted in either must not be found, whichever way PATH names them.
TEST_F(LaunchTest, NeverFindsProgramsInProgramFolderOrCurrentDirectory) {
  WriteRecorderScript(programFolder_ / "planted", Record());
  WriteRecorderScript(work_ / "planted", Record());
  fs::create_directory_symlink(programFolder_.Path(), bin_ / "alias");
  testing::ScopedWorkingDirectory cwd(work_.Path());
  fs::create_directories(programFolder_ / "a/b");
  WriteRecorderScript(programFolder_ / "a/b/planted", Record());
  std::string searchPath = programFolder_.Path() + ":" + bin_ / "alias" + ":" + work_.Path() +
                           ":.::" + programFolder_ / "a/b" + ":" + bin_ / "alias/a" + ":" +
                           bin_.Path();
  ScopedEnvironment path("PATH", searchPath);
  EXPECT_THROW(Launch(u"planted"), PlatformError);
  EXPECT_FALSE(fs::exists(Record()));
}

// The opener is chosen before the archive is extracted, never below the program folder (where
// ~/.local/bin lies for a program kept in the home folder), and the file started is that file.
TEST_F(LaunchTest, OpenerIsTheFileChosenBeforeExtraction) {
  std::string planted = programFolder_ / ".local/bin";
  ScopedEnvironment path("PATH", planted + ":" + bin_.Path());
  WriteRecorderScript(bin_ / "xdg-open", Record());
  std::optional<ChosenProgram> opener = ChooseDesktopOpener(programFolder_.Path());
  fs::create_directories(planted);
  WriteRecorderScript(planted + "/xdg-open", work_ / "planted-ran");
  EXPECT_EQ(ChooseDesktopOpener(programFolder_.Path())->path, fs::canonical(bin_ / "xdg-open"));
  std::u16string line = u"RunDll32.exe url.dll, FileProtocolHandler " +
                        FromSystemBytes(work_.Path());
  pid_t child = static_cast<pid_t>(LaunchCommandLine(line, programFolder_.Path(), opener));
  waitpid(child, nullptr, 0);
  EXPECT_EQ(ReadRecordedArguments(Record()), std::vector<std::string>{work_.Path()});
  // A file put in the chosen one's place is not started.
  fs::remove(bin_ / "xdg-open");
  WriteRecorderScript(bin_ / "xdg-open", work_ / "replacement-ran");
  EXPECT_THROW(LaunchCommandLine(line, programFolder_.Path(), opener), PlatformError);
  EXPECT_FALSE(fs::exists(work_ / "planted-ran"));
  EXPECT_FALSE(fs::exists(work_ / "replacement-ran"));
}

TEST_F(LaunchTest, UnknownOrEmptyCommandThrows) {
  EXPECT_THROW(Launch(u"no-such-program-here x"), PlatformError);
  EXPECT_THROW(Launch(u""), PlatformError);
  EXPECT_THROW(Launch(u"\"\" x"), PlatformError);
  EXPECT_THROW(Launch(u"/no/such/program"), PlatformError);
}

TEST_F(LaunchTest, FolderOpenerGetsTheWholePathAsOneArgument) {
  WriteRecorderScript(bin_ / "xdg-open", Record());
  std::string folder = work_ / "result  folder \"q\" \\x";
  fs::create_directory(folder);
  ASSERT_TRUE(LaunchAndWait(u"RunDll32.exe url.dll, FileProtocolHandler " + FromSystemBytes(folder)));
  EXPECT_EQ(ReadRecordedArguments(Record()), std::vector<std::string>{folder});
}

class RefusedTargetTest : public LaunchTest,
                          public ::testing::WithParamInterface<const char*> {};

// Only a folder is ever opened: handing a file the archive just delivered to the opener could
// run it, and a link to such a file is no better.
TEST_P(RefusedTargetTest, OpenerIsNotStarted) {
  WriteRecorderScript(bin_ / "xdg-open", Record());
  testing::WriteFile(work_ / "evil.desktop", "[Desktop Entry]\n");
  fs::create_symlink(work_ / "evil.desktop", work_ / "link");
  std::string target = GetParam();
  if (!target.empty()) target = work_ / target;
  EXPECT_THROW(Launch(u"RunDll32.exe url.dll, FileProtocolHandler " +
                                     FromSystemBytes(target)),
               PlatformError);
  EXPECT_FALSE(fs::exists(Record()));
}

std::string TargetLabel(const ::testing::TestParamInfo<const char*>& info) {
  const char* labels[] = {"Empty", "File", "LinkToFile"};
  return labels[info.index];
}

INSTANTIATE_TEST_SUITE_P(Targets, RefusedTargetTest,
                         ::testing::Values("", "evil.desktop", "link"), TargetLabel);

// A folder that was never created is still handed on, so the opener can say it is missing.
TEST_F(LaunchTest, MissingFolderIsHandedToTheOpener) {
  WriteRecorderScript(bin_ / "xdg-open", Record());
  std::string folder = work_ / "never made";
  ASSERT_TRUE(LaunchAndWait(u"RunDll32.exe url.dll, FileProtocolHandler " + FromSystemBytes(folder)));
  EXPECT_EQ(ReadRecordedArguments(Record()), std::vector<std::string>{folder});
}

}  // namespace
}  // namespace zipdrop
