#include "platform/posix/clash_question.h"

#include <gtest/gtest.h>

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
  UserClashQuestion question("a.zip", programFolder.Path());
  EXPECT_EQ(question.AskAll(3), GetParam().choice);
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

TEST(TerminalAnswerTest, TakesOneNumberOrEnterForSkip) {
  EXPECT_EQ(TerminalAnswer("", 4), 1u);
  EXPECT_EQ(TerminalAnswer(" 3 ", 4), 2u);
  EXPECT_EQ(TerminalAnswer("4", 4), 3u);
  for (const char* wrong : {"5", "0", "12", "x"}) EXPECT_FALSE(TerminalAnswer(wrong, 4)) << wrong;
}

}  // namespace
}  // namespace zipdrop
