#include "platform/posix/ui/dialog_programs.h"

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

// zenity refuses an argument that is not UTF-8, and a control would act in the window: whatever
// text is handed in, no argument of either program carries one.
TEST(MessageDialogsTest, HandOverOnlyShowableText) {
  for (const DialogCommand& dialog : MessageDialogs("a\x1b]0;t\x07\xff\u202E\nb", "\x9bT", 16)) {
    for (const std::string& argument : dialog.arguments) {
      EXPECT_EQ(argument.find_first_of("\x1b\x07\xff\x9b"), std::string::npos) << argument;
      EXPECT_EQ(argument.find("\u202E"), std::string::npos) << argument;
    }
  }
}

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
