#include "platform/posix/dialog_programs.h"

#include <gtest/gtest.h>

namespace zipdrop {
namespace {

struct EndCase {
  int exitStatus;
  const char* errors;
  DialogEnd end;
};

class EndOfDialogTest : public ::testing::TestWithParam<EndCase> {};

// zenity ends with 1 both for Cancel and when GTK cannot open the display; only its words on
// standard error tell the two apart. A signal or any other status is never the user's answer.
TEST_P(EndOfDialogTest, TellsTheUsersAnswerFromAFailure) {
  EXPECT_EQ(EndOfDialog(GetParam().exitStatus, GetParam().errors), GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, EndOfDialogTest,
    ::testing::Values(EndCase{0, "", DialogEnd::kAccepted}, EndCase{1, "", DialogEnd::kDeclined},
                      EndCase{1, "(zenity:9): Gtk-WARNING **: cannot open display: :77\n",
                              DialogEnd::kNotShown},
                      EndCase{-1, "", DialogEnd::kNotShown},
                      EndCase{255, "", DialogEnd::kNotShown}));

struct EntryTextCase {
  const char* name;
  const char* argument;  // What zenity's entry dialog must be given to show the name.
};

class PasswordDialogTest : public ::testing::TestWithParam<EntryTextCase> {};

// The entry dialog expands backslash escapes and takes '_' as a shortcut mark even with
// --no-markup; kdialog's text is declared rich text, so neither matters there.
TEST_P(PasswordDialogTest, ShowsTheArchiveNameLiterally) {
  std::vector<DialogCommand> dialogs = PasswordDialogs(GetParam().name, "T");
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[0].arguments,
            (std::vector<std::string>{"zenity", "--entry", "--hide-text", "--no-markup",
                                      "--title=T", std::string("--text=") + GetParam().argument}));
  EXPECT_EQ(dialogs[1].arguments.back(), AsLiteralRichText(GetParam().name));
}

INSTANTIATE_TEST_SUITE_P(Names, PasswordDialogTest,
                         ::testing::Values(EntryTextCase{"back\\n\\slash.zip",
                                                         "back\\\\n\\\\slash.zip"},
                                           EntryTextCase{"_under_score.zip", "__under__score.zip"},
                                           EntryTextCase{"<b>&amp;.zip", "<b>&amp;.zip"}));

}  // namespace
}  // namespace zipdrop
