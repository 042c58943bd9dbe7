// End-to-end tests of the built program as a user meets it: copied into a folder of its own, run
// as a process on real archives, with TEMP pointing at a temporary folder and a recording opener
// on PATH in place of the desktop's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/posix/scratch_folder.h"
#include "tests/posix/zip_builder.h"

namespace zipdrop {
namespace {

namespace fs = std::filesystem;
using testing::ZipBuilder;

using testing::ReadFile;
using testing::WriteFile;

struct RunResult {
  int exitStatus = -1;
  std::string standardError;
  int processesStarted = 0;  // And left running when the program ended: the opener, above all.
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every process the program starts and leaves behind becomes this test's child once the
    // program is gone, so that the test can wait for all of them, and count them.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    programFolder_ = root_ / "program";
    temp_ = root_ / "temp";
    fakeBin_ = root_ / "bin";
    for (const fs::path& folder : {programFolder_, temp_, fakeBin_}) fs::create_directory(folder);
    program_ = programFolder_ / "zipdrop";
    fs::copy_file(ZIPDROP_EXE, program_);
    // The opener records each argument on a line of its own, then a marker line.
    WriteFile(fakeBin_ / "xdg-open",
              "#!/bin/sh\nprintf '%s' \"${TZ-unset}\" > '" + (root_ / "opener-tz").string() +
                  "'\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" +
                  (root_ / "opened.part").string() + "'\nmv '" + (root_ / "opened.part").string() +
                  "' '" + (root_ / "opened").string() + "'\n");
    fs::permissions(fakeBin_ / "xdg-open", fs::perms::owner_all);
  }


  // Starts the program with the test's environment. Its standard error goes to a file, or to
  // errorFd when one is given.
  pid_t Start(const std::vector<std::string>& arguments, int errorFd = -1) {
    std::vector<std::string> environment = {"TEMP=" + temp_.string(),
                                            "PATH=" + fakeBin_.string() + ":/usr/bin:/bin",
                                            "HOME=" + root_.string(), "LANG=C.UTF-8"};
    environment.insert(environment.end(), extraEnvironment_.begin(), extraEnvironment_.end());
    std::vector<char*> argv;
    for (std::string& word : launcher_) argv.push_back(word.data());
    argv.push_back(const_cast<char*>(program_.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (errorFd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, (root_ / "stderr").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    // In a session of its own the program has no terminal to ask questions on, as when a file
    // manager starts it, even when the tests run at one.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
  }

  RunResult Run(const std::vector<std::string>& arguments) {
    RunResult result;
    pid_t pid = Start(arguments);
    if (pid < 0) return result;
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.standardError = ReadFile(root_ / "stderr");
    result.processesStarted = WaitForProcessesLeft();
    return result;
  }

  // Waits for every process the program started and left running (the opener runs detached, so
  // it may finish after the program); returns how many there were.
  int WaitForProcessesLeft() {
    int count = 0;
    while (waitpid(-1, nullptr, 0) > 0) ++count;
    return count;
  }

  // What the opener was asked to open, once every process the program left has ended.
  std::vector<std::string> OpenedArguments() {
    WaitForProcessesLeft();
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(root_ / "opened"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  testing::ScratchFolder scratch_;
  fs::path root_ = scratch_.Path();
  fs::path programFolder_, temp_, fakeBin_, program_;
  std::vector<std::string> extraEnvironment_;
  std::vector<std::string> launcher_;  // A program that starts ours, given by its path.
};

struct OutcomeCase {
  const char* name;
  std::vector<std::string> launcher;
  bool archiveIsFolder;
  int exitStatus;
  const char* told;  // What standard error says.
};

class OutcomeTest : public ProgramTest, public ::testing::WithParamInterface<OutcomeCase> {};

// The exit status tells how the copy went, whatever made it fail: no thread to be had, an archive
// that is a folder, a file-size limit that fails one write (the run goes on past it).
TEST_P(OutcomeTest, StatusAndMessageTellIt) {
  if (GetParam().archiveIsFolder) {
    fs::create_directories(root_ / "x.zip/x");
  } else {
    ZipBuilder()
        .Add(testing::LargeZeroEntry("x/big.bin", 4 << 20))
        .AddFile("x/small.txt", "s")
        .WriteTo(root_ / "x.zip");
  }
  // The unprivileged user of the thread limit (root is not held to it) must reach every file.
  for (const fs::path& folder : {root_, programFolder_, temp_}) {
    fs::permissions(folder, fs::perms::all);
  }
  launcher_ = GetParam().launcher;
  extraEnvironment_ = {"ASAN_OPTIONS=detect_leaks=0"};  // The leak check needs a thread.
  RunResult result = Run({(root_ / "x.zip").string()});
  EXPECT_EQ(result.exitStatus, GetParam().exitStatus) << result.standardError;
  EXPECT_NE(result.standardError.find(GetParam().told), std::string::npos) << result.standardError;
  EXPECT_EQ(fs::exists(programFolder_ / "x/small.txt"), GetParam().exitStatus == 1);
  EXPECT_FALSE(fs::exists(programFolder_ / "x/big.bin"));
}

constexpr const char* kCopyFailed = "「x.zip」を展開できませんでした";
const std::vector<std::string> kNobodyWithOneProcess = {"/usr/bin/setpriv", "--reuid=65534",
                                                        "--regid=65534",    "--clear-groups",
                                                        "/usr/bin/prlimit", "--nproc=1"};

INSTANTIATE_TEST_SUITE_P(
    Failures, OutcomeTest,
    ::testing::Values(
        OutcomeCase{"FolderNamedZip", {}, true, 2, kCopyFailed},
        OutcomeCase{"NoThread", kNobodyWithOneProcess, false, 2, kCopyFailed},
        OutcomeCase{
            "FileSizeLimit", {"/usr/bin/prlimit", "--fsize=1048576"}, false, 1, "書き込みの失敗"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, WithoutArgumentShowsUsageAndDoesNothingElse) {
  fs::create_directory(temp_ / "Temporary Directory 1 for a.zip");
  RunResult result = Run({});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.standardError.find("使い方"), std::string::npos);
  EXPECT_NE(result.standardError.find("解凍したいZIPファイルをこのアイコンの上にドラッグすると、\n"
                                      "アイコンのある同じ場所にファイルが解凍されます。"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(temp_ / "Temporary Directory 1 for a.zip"));
  EXPECT_EQ(result.processesStarted, 0);
}

TEST_F(ProgramTest, NameThatIsNotZipIsRejected) {
  WriteFile(root_ / "notes.txt", "text");
  RunResult result = Run({(root_ / "notes.txt").string()});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_NE(result.standardError.find("エラー"), std::string::npos);
  EXPECT_NE(result.standardError.find("Zipファイルではありません"), std::string::npos);
  EXPECT_EQ(result.processesStarted, 0);
}

TEST_F(ProgramTest, ExtractsNestedUtf8NamesCleansUpAndOpensTheFolder) {
  ZipBuilder zip;
  zip.AddFolder("photos/")
      .AddFile("photos/readme.txt", "hello")
      .Add({.name = "photos/旅行/京都.txt", .data = "古都", .flags = testing::kFlagUtf8})
      .Add({.name = "photos/旅行/深い/奈良.txt", .data = "鹿", .flags = testing::kFlagUtf8});
  zip.WriteTo(root_ / "photos.zip");
  fs::create_directories(temp_ / "Temporary Directory 1 for photos.zip" / "sub");
  fs::create_directory(temp_ / "Temporary Directory2");
  fs::create_directory(temp_ / "keep me");
  WriteFile(temp_ / "Temporary Directory file", "a file, not a folder");

  RunResult result = Run({(root_ / "photos.zip").string()});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(ReadFile(programFolder_ / "photos/readme.txt"), "hello");
  EXPECT_EQ(ReadFile(programFolder_ / "photos/旅行/京都.txt"), "古都");
  EXPECT_EQ(ReadFile(programFolder_ / "photos/旅行/深い/奈良.txt"), "鹿");
  EXPECT_FALSE(fs::exists(temp_ / "Temporary Directory 1 for photos.zip"));
  EXPECT_FALSE(fs::exists(temp_ / "Temporary Directory2"));
  EXPECT_TRUE(fs::exists(temp_ / "keep me"));
  EXPECT_TRUE(fs::exists(temp_ / "Temporary Directory file"));
  EXPECT_EQ(OpenedArguments(), std::vector<std::string>{(programFolder_ / "photos").string()});
  // The time zone the extractor pins for itself is not passed on.
  EXPECT_EQ(ReadFile(root_ / "opener-tz"), "unset");
}

TEST_F(ProgramTest, ShippedSampleWithCp932NamesExtractsWithJapaneseNames) {
  fs::copy_file(fs::path(ZIPDROP_SOURCE_DIR) / "examples/sample.zip", root_ / "sample.zip");
  Run({(root_ / "sample.zip").string()});
  EXPECT_NE(ReadFile(programFolder_ / "sample/はじめに.txt").find("zipdrop"), std::string::npos);
  EXPECT_TRUE(fs::exists(programFolder_ / "sample/写真/旅行メモ.txt"));
  // 表 ends in the byte of a backslash in CP932; it must stay one name, not become a folder.
  EXPECT_TRUE(fs::is_regular_file(programFolder_ / "sample/データ/表.csv"));
  EXPECT_EQ(OpenedArguments(), std::vector<std::string>{(programFolder_ / "sample").string()});
}

TEST_F(ProgramTest, PathWithBlanksIsOneArchiveAndOneFolder) {
  fs::create_directory(root_ / "my files");
  ZipBuilder().AddFile("my photos/a.txt", "a").WriteTo(root_ / "my files/my photos.zip");
  Run({(root_ / "my files/my photos.zip").string()});
  EXPECT_EQ(ReadFile(programFolder_ / "my photos/a.txt"), "a");
  EXPECT_EQ(OpenedArguments(), std::vector<std::string>{(programFolder_ / "my photos").string()});
}

TEST_F(ProgramTest, MissingArchiveStillCleansUpAndOpensWithoutMessage) {
  fs::create_directory(temp_ / "Temporary Directory 3");
  RunResult result = Run({(root_ / "gone.zip").string()});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.standardError.find("エラー"), std::string::npos);
  EXPECT_FALSE(fs::exists(temp_ / "Temporary Directory 3"));
  EXPECT_EQ(OpenedArguments(), std::vector<std::string>{(programFolder_ / "gone").string()});
}

// The run itself stays silent about a damaged archive; the platform says what went wrong, as the
// Windows shell would in a dialog of its own.
TEST_F(ProgramTest, DamagedArchiveIsReportedByThePlatformOnly) {
  WriteFile(root_ / "damaged.zip", "this is no archive");
  RunResult result = Run({(root_ / "damaged.zip").string()});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_NE(result.standardError.find("ZIP ファイルとして読めません"), std::string::npos);
  EXPECT_EQ(result.standardError.find("エラー"), std::string::npos);
  EXPECT_EQ(OpenedArguments(), std::vector<std::string>{(programFolder_ / "damaged").string()});
}

TEST_F(ProgramTest, HostileEntriesTouchNothingOutsideTheProgramFolder) {
  fs::path outside = root_ / "outside";
  fs::create_directory(outside);
  WriteFile(outside / "victim.txt", "precious");
  WriteFile(programFolder_ / "existing.txt", "mine");
  fs::create_directory_symlink(outside, programFolder_ / "linked");
  ZipBuilder zip;
  zip.AddFile("../escaped.txt", "x")
      .AddFile((outside / "absolute.txt").string(), "x")
      .AddSymlink("lnk", outside.string())
      .AddFile("lnk/through-link.txt", "x")
      .AddFile("linked/through-existing-link.txt", "x")
      .AddFile("linked/victim.txt", "overwritten")
      .AddFile("existing.txt", "overwritten")
      .AddFile("zipdrop", "not the program")
      .AddFile("ok.txt", "fine");
  zip.WriteTo(root_ / "evil.zip");

  EXPECT_EQ(Run({(root_ / "evil.zip").string()}).exitStatus, 1);
  EXPECT_EQ(ReadFile(programFolder_ / "ok.txt"), "fine");
  EXPECT_EQ(ReadFile(programFolder_ / "existing.txt"), "mine");
  EXPECT_NE(ReadFile(program_), "not the program");
  EXPECT_EQ(ReadFile(outside / "victim.txt"), "precious");
  EXPECT_FALSE(fs::exists(root_ / "escaped.txt"));
  EXPECT_FALSE(fs::exists(outside / "absolute.txt"));
  EXPECT_FALSE(fs::exists(outside / "through-link.txt"));
  EXPECT_FALSE(fs::exists(outside / "through-existing-link.txt"));
  EXPECT_FALSE(fs::is_symlink(programFolder_ / "lnk"));
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
}

// A standard error nobody reads any more (a closed pipe) loses the summary and nothing else: the
// clean-up and the opener still run.
TEST_F(ProgramTest, ClosedStandardErrorDoesNotStopTheRun) {
  ZipBuilder().AddFile("piped/a.txt", "a").AddFile("../escape.txt", "x").WriteTo(root_ / "piped.zip");
  fs::create_directory(temp_ / "Temporary Directory 4");
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  close(pipeEnds[0]);
  pid_t pid = Start({(root_ / "piped.zip").string()}, pipeEnds[1]);
  close(pipeEnds[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_FALSE(fs::exists(temp_ / "Temporary Directory 4"));
  EXPECT_EQ(OpenedArguments(), std::vector<std::string>{(programFolder_ / "piped").string()});
}

// Password-protected archives, as 7-Zip writes them: the password is asked for by a dialog on a
// desktop, or on the terminal, and never appears in an argument list or any output.
class PasswordProgramTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    WriteFile(root_ / "secret.txt", "the plan");
    std::string command = "cd '" + root_.string() + "' && mkdir locked && cp secret.txt locked/ " +
                          "&& 7zz a -tzip -mem=AES256 -p'" + kPassword + "' locked.zip locked " +
                          ">/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  static constexpr const char* kPassword = "Open sesame 26";

  // Starts the program on the archive in a terminal of its own (a pseudo-terminal) whose other
  // end is terminal_.
  pid_t StartOnTerminal(std::string display = "WAYLAND_DISPLAY=") {
    pid_t pid = forkpty(&terminal_, nullptr, nullptr, nullptr);
    if (pid == 0) {
      std::string temp = "TEMP=" + temp_.string(), path = "PATH=" + fakeBin_.string() + ":/usr/bin";
      char* envp[] = {temp.data(), path.data(), const_cast<char*>("LANG=C.UTF-8"), display.data(),
                      nullptr};
      std::string archive = (root_ / "locked.zip").string();
      char* argv[] = {const_cast<char*>(program_.c_str()), archive.data(), nullptr};
      execve(program_.c_str(), argv, envp);
      _exit(127);
    }
    return pid;
  }
  // Reads what the program shows until it has shown wanted; false if it ends first.
  bool ReadUntil(const std::string& wanted) {
    char buffer[4096];
    while (screen_.find(wanted) == std::string::npos) {
      ssize_t count = read(terminal_, buffer, sizeof buffer);
      if (count <= 0) return false;
      screen_.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
  }
  bool EchoOn() {
    termios settings{};
    return tcgetattr(terminal_, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  }

  int terminal_ = -1;
  std::string screen_;
};

struct DialogNameCase {
  const char* label;
  const char* archive;  // The archive's name on disk.
  const char* shown;    // How the entry dialog is told to show it, its backslashes doubled.
};

class PasswordDialogNameTest : public PasswordProgramTest,
                               public ::testing::WithParamInterface<DialogNameCase> {};

// Whatever the archive is called, the dialog program is handed valid UTF-8 (zenity refuses
// anything else) without a control character, and the name that opens the archive is the real one.
TEST_P(PasswordDialogNameTest, DialogOnTheDesktop) {
  testing::FakeCompositor display(root_ / "wayland-0");
  extraEnvironment_ = {"WAYLAND_DISPLAY=" + (root_ / "wayland-0").string()};
  fs::path archive = root_ / GetParam().archive;
  fs::rename(root_ / "locked.zip", archive);
  // A stand-in for zenity that records how it was called, marks what a dialog could not show,
  // and answers the password entry.
  WriteFile(fakeBin_ / "zenity",
            "#!/usr/bin/python3\nimport re, sys\nwords = [a.encode('utf-8', 'surrogateescape') "
            "for a in sys.argv[1:]] + [sys.stdin.buffer.read()]\ndef shown(w):\n  try: return "
            "not re.search('[\\0-\\t\\x0b-\\x1f\\x7f-\\x9f\\u202a-\\u202e\\u2066-\\u2069]', "
            "w.decode())\n  except UnicodeDecodeError: return False\nwith open('" +
                (root_ / "dialog-arguments").string() +
                "', 'ab') as log:\n  for w in words: log.write(w + (b'\\n' if shown(w) else "
                "b' <- NOT SHOWN\\n'))\nif '--entry' in sys.argv: print('" +
                kPassword + "')\n");
  fs::permissions(fakeBin_ / "zenity", fs::perms::owner_all);
  RunResult result = Run({archive.string()});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(ReadFile(programFolder_ / "locked/secret.txt"), "the plan");
  std::string arguments = ReadFile(root_ / "dialog-arguments");
  EXPECT_NE(arguments.find("--title=パスワード"), std::string::npos) << arguments;
  EXPECT_NE(arguments.find(GetParam().shown), std::string::npos) << arguments;
  EXPECT_EQ(arguments.find("NOT SHOWN"), std::string::npos) << arguments;
  EXPECT_EQ(arguments.find(kPassword), std::string::npos);
  EXPECT_EQ(result.standardError.find(kPassword), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PasswordDialogNameTest,
    ::testing::Values(DialogNameCase{"Plain", "locked.zip", "「locked.zip」"},
                      DialogNameCase{"Cp932WithEscapes", "\x83p\x83X\x1b]0;t\x07.zip",
                                     "「パス\\\\x1B]0;t\\\\x07.zip」"},
                      DialogNameCase{"BidiAndStrayBytes", "inv\u202Egpj\xFF.zip",
                                     "「inv\\\\u202Egpj\uFFFD.zip」"}),
    [](const auto& info) { return std::string(info.param.label); });

class PasswordTerminalTest : public PasswordProgramTest,
                             public ::testing::WithParamInterface<bool> {};

// On a terminal (a pseudo-terminal here) the password is read with the echo off. So it is, too,
// with a display whose dialog cannot be shown: zenity's status 1 is then no Cancel.
TEST_P(PasswordTerminalTest, TerminalWithoutEcho) {
  std::optional<testing::FakeCompositor> display;
  if (GetParam()) {
    display.emplace(root_ / "wayland-0");
    WriteFile(fakeBin_ / "zenity",
              "#!/bin/sh\necho 'Gtk-WARNING: cannot open display: ' >&2\nexit 1\n");
    fs::permissions(fakeBin_ / "zenity", fs::perms::owner_all);
  }
  pid_t pid = StartOnTerminal("WAYLAND_DISPLAY=" + (root_ / "wayland-0").string());
  ASSERT_GE(pid, 0);
  ASSERT_TRUE(ReadUntil("パスワード: ")) << screen_;
  std::string answer = std::string(kPassword) + "\n";
  ASSERT_EQ(write(terminal_, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
  ReadUntil("\x01");  // Everything, up to the end of the program's output.
  close(terminal_);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile(programFolder_ / "locked/secret.txt"), "the plan");
  EXPECT_EQ(screen_.find(kPassword), std::string::npos) << screen_;
  EXPECT_NE(screen_.find("「locked.zip」はパスワードで保護されています"), std::string::npos) << screen_;
}

INSTANTIATE_TEST_SUITE_P(Displays, PasswordTerminalTest, ::testing::Bool());

class InterruptedPromptTest : public PasswordProgramTest, public ::testing::WithParamInterface<int> {};

// An interrupt at the prompt puts the terminal's echo back before the process ends by it.
TEST_P(InterruptedPromptTest, PutsTheEchoBack) {
  pid_t pid = StartOnTerminal();
  ASSERT_GE(pid, 0);
  ASSERT_TRUE(ReadUntil("パスワード: ")) << screen_;
  ASSERT_FALSE(EchoOn());
  kill(pid, GetParam());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam()) << status;
  EXPECT_TRUE(EchoOn());
  close(terminal_);
}

// Stopped at the prompt and continued, after the shell has put the echo back on meanwhile, the
// prompt turns it off again before reading on. The program leads a session of its own here, where
// the kernel drops Ctrl-Z's SIGTSTP, so it is stopped as SIGTSTP would stop it, by SIGSTOP.
TEST_F(PasswordProgramTest, EchoGoesOffAgainWhenContinued) {
  pid_t pid = StartOnTerminal();
  ASSERT_GE(pid, 0);
  ASSERT_TRUE(ReadUntil("パスワード: ")) << screen_;
  int status = 0;
  kill(pid, SIGSTOP);
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  termios settings{};
  ASSERT_EQ(tcgetattr(terminal_, &settings), 0);
  settings.c_lflag |= ECHO;
  ASSERT_EQ(tcsetattr(terminal_, TCSANOW, &settings), 0);
  kill(pid, SIGCONT);
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       EchoOn() && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(EchoOn());
  std::string answer = std::string(kPassword) + "\n";
  ASSERT_EQ(write(terminal_, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
  ReadUntil("\x01");
  close(terminal_);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(ReadFile(programFolder_ / "locked/secret.txt"), "the plan");
  EXPECT_EQ(screen_.find(kPassword), std::string::npos) << screen_;
}

// A display that took the connection and stays silent is waited for, and an interrupt ends the
// wait at once.
TEST_F(ProgramTest, InterruptEndsTheWaitForASilentDisplay) {
  int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = (root_ / "silent-0").string();
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 4), 0);
  extraEnvironment_ = {"WAYLAND_DISPLAY=" + path};
  pid_t pid = Start({});
  ASSERT_GT(pid, 0);
  int client = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);  // The check has begun.
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  close(client);
  close(server);
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedPromptTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
}  // namespace zipdrop
