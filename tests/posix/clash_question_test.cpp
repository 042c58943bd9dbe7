#include "platform/posix/ui/clash_question.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

using testing::FakeDesktop;

// What a fake dialog program prints and how it ends.
struct FakeDialog {
  std::string output;
  int status = 0;
};

struct AnswerCase {
  const char* label;
  FakeDialog zenity, kdialog;
  ClashChoice choice;
};

class ClashDialogTest : public ::testing::TestWithParam<AnswerCase> {};

void WriteDialog(const std::filesystem::path& path, const FakeDialog& dialog) {
  testing::WriteFile(path,
                     "#!/bin/sh\nprintf '%s\\n' '" + dialog.output + "'\nexit " +
                         std::to_string(dialog.status) + "\n",
                     0755);
}

// zenity names the button pressed, kdialog the tag of the item chosen; a window closed without an
// answer cancels, and kdialog is asked only when zenity could not show the question.
TEST_P(ClashDialogTest, TakesTheAnswerTheDialogGives) {
  FakeDesktop desktop;
  WriteDialog(desktop.Bin() / "zenity", GetParam().zenity);
  WriteDialog(desktop.Bin() / "kdialog", GetParam().kdialog);
  testing::ScratchFolder programFolder;
  UserContact user;
  UserClashQuestion question("a.zip", programFolder.Path(), user);
  EXPECT_EQ(question.AskAll(3, {}), GetParam().choice);
  // The progress display stays back from "each file" until the question about the last file.
  EXPECT_EQ(user.QuestionOpen(), GetParam().choice == ClashChoice::kDecideEach);
  question.AskOne("1.txt", 1);
  EXPECT_FALSE(user.QuestionOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ClashDialogTest,
    ::testing::Values(AnswerCase{"ZenitySkip", {"スキップ", 1}, {}, ClashChoice::kSkip},
                      AnswerCase{
                          "ZenityEach", {"ファイルごとに決める", 1}, {}, ClashChoice::kDecideEach},
                      AnswerCase{"ZenityClosed", {"", 1}, {}, ClashChoice::kCancel},
                      AnswerCase{"KdialogReplace", {"", 255}, {"0", 0}, ClashChoice::kReplace},
                      AnswerCase{"KdialogCancel", {"", 255}, {"", 1}, ClashChoice::kCancel}),
    [](const auto& info) { return std::string(info.param.label); });

// The progress display holds back while a question is open, so the question is marked open for as
// long as its dialog is up, and no longer.
TEST(ClashQuestionTest, IsMarkedOpenWhileItsDialogIsUp) {
  using namespace std::chrono_literals;
  FakeDesktop desktop;
  testing::ScratchFolder programFolder;
  std::string gate = programFolder / "gate";
  ASSERT_EQ(mkfifo(gate.c_str(), 0600), 0);
  testing::WriteFile(desktop.Bin() / "zenity",
                     "#!/bin/sh\nread line < '" + gate + "'\nprintf 'スキップ\\n'\nexit 1\n", 0755);
  UserContact user;
  UserClashQuestion question("a.zip", programFolder.Path(), user);
  std::future<ClashChoice> answer =
      std::async(std::launch::async, [&] { return question.AskAll(3, {}); });
  // The gate opens for writing only once the dialog waits at it.
  int dialogUp = -1;
  for (auto deadline = std::chrono::steady_clock::now() + 10s;
       dialogUp < 0 && std::chrono::steady_clock::now() < deadline;) {
    dialogUp = open(gate.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (dialogUp < 0) std::this_thread::sleep_for(10ms);
  }
  ASSERT_GE(dialogUp, 0);
  EXPECT_TRUE(user.QuestionOpen());
  EXPECT_EQ(write(dialogUp, "\n", 1), 1);
  close(dialogUp);
  EXPECT_EQ(answer.get(), ClashChoice::kSkip);
  EXPECT_FALSE(user.QuestionOpen());
}

// The same text goes to the terminal and the dialog: a name's escapes and bidi controls are shown,
// never acted on, and a name that is not UTF-8 is shown as CP932.
TEST(ClashQuestionTextTest, ShowsNamesEscaped) {
  EXPECT_EQ(ClashQuestionText("\x1b]0;x\x07\x1b[2J\x83p.zip", 2),
            "「\\x1B]0;x\\x07\\x1B[2Jパ.zip」の 2 個のファイルは既にあります。置き換えますか?");
  EXPECT_EQ(
      ClashQuestionText("a.zip", 1, {"zipdrop", "zipdrop.png", "old.txt", "a.zip"}),
      "「a.zip」の 1 個のファイルは既にあります。置き換えますか?\nzipdrop が使うファイルは置き換え"
      "ません: 「zipdrop」 「zipdrop.png」 「old.txt」 ほか 1 個");
  EXPECT_EQ(FileClashQuestionText("inv\u202Egpj.exe", 1),
            "「inv\\u202Egpj.exe」は既にあります。置き換えますか?");
}

TEST(TerminalAnswerTest, TakesOneNumberOrEnterForSkip) {
  EXPECT_EQ(TerminalAnswer("", 4), 1u);
  EXPECT_EQ(TerminalAnswer(" 3 ", 4), 2u);
  EXPECT_EQ(TerminalAnswer("4", 4), 3u);
  for (const char* wrong : {"5", "0", "12", "x"}) EXPECT_FALSE(TerminalAnswer(wrong, 4)) << wrong;
}

}  // namespace
}  // namespace zipdrop
