#include "platform/posix/ui/message_box.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/platform_services.h"
#include "tests/posix/scratch_folder.h"

namespace zipdrop {
namespace {

using testing::FakeCompositor;
using testing::ReadRecordedArguments;
using testing::ScopedEnvironment;
using testing::ScratchFolder;
using testing::WriteRecorderScript;

struct LineBreakCase {
  const char* label;
  std::u16string text;
  std::string bytes;
};

class MessageBytesTest : public ::testing::TestWithParam<LineBreakCase> {};

TEST_P(MessageBytesTest, TurnsWindowsLineBreaksIntoNewlines) {
  EXPECT_EQ(MessageBytes(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MessageBytesTest,
    ::testing::Values(LineBreakCase{"CrLf", u"a\r\nb", "a\nb"},
                      LineBreakCase{"LoneCr", u"a\rb\r", "a\nb\n"},
                      LineBreakCase{"Lf", u"a\nb", "a\nb"},
                      LineBreakCase{"CrCrLf", u"a\r\r\nb", "a\n\nb"},
                      LineBreakCase{"Japanese", u"エラー", "\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC"}),
    [](const auto& info) { return std::string(info.param.label); });

// Every test runs with no display and a PATH that holds only its own fake dialog programs. A
// test that wants a display gets a Wayland compositor that answers.
class ShowMessageBoxTest : public ::testing::Test {
 protected:
  ShowMessageBoxTest()
      : path_("PATH", bin_.Path()), display_("DISPLAY", std::nullopt),
        wayland_("WAYLAND_DISPLAY", std::nullopt), runtimeDir_("XDG_RUNTIME_DIR", runtime_.Path()) {}

  void OpenDisplay() {
    compositor_.emplace(runtime_ / "wayland-9");
    setenv("WAYLAND_DISPLAY", "wayland-9", 1);
  }

  std::string Show(const std::u16string& text, const std::u16string& title, int icon) {
    ::testing::internal::CaptureStderr();
    ShowMessageBox(text, title, icon, programFolder_.Path());
    return ::testing::internal::GetCapturedStderr();
  }
  std::string Record() const { return work_ / "record"; }

  ScratchFolder bin_, programFolder_, work_, runtime_;
  ScopedEnvironment path_, display_, wayland_, runtimeDir_;
  std::optional<FakeCompositor> compositor_;
};

TEST_F(ShowMessageBoxTest, WithoutDisplayWritesTitleThenTextToStandardError) {
  WriteRecorderScript(bin_ / "zenity", Record());
  std::string shown = Show(u"一行目\r\n二行目", u"使い方", kIconExclamation);
  EXPECT_EQ(shown, "使い方\n一行目\n二行目\n");
  EXPECT_FALSE(std::filesystem::exists(Record()));
}

TEST_F(ShowMessageBoxTest, EmptyDisplayCountsAsNone) {
  WriteRecorderScript(bin_ / "zenity", Record());
  ScopedEnvironment display("DISPLAY", "");
  EXPECT_EQ(Show(u"t", u"T", kIconStop), "T\nt\n");
  EXPECT_FALSE(std::filesystem::exists(Record()));
}

// A DISPLAY or WAYLAND_DISPLAY left over from a session that has ended names a display that
// no longer answers: zenity would fail as if closed, and the text would be seen nowhere.
TEST_F(ShowMessageBoxTest, DisplayThatIsGoneCountsAsNone) {
  WriteRecorderScript(bin_ / "zenity", Record());
  OpenDisplay();
  compositor_->Close();
  EXPECT_EQ(Show(u"t", u"T", kIconStop), "T\nt\n");
  EXPECT_FALSE(std::filesystem::exists(Record()));
}

TEST_F(ShowMessageBoxTest, DisplayWithoutDialogProgramFallsBack) {
  OpenDisplay();
  EXPECT_EQ(Show(u"t", u"T", kIconStop), "T\nt\n");
}

TEST_F(ShowMessageBoxTest, FailingDialogFallsBack) {
  WriteRecorderScript(bin_ / "zenity", Record(), 255);
  OpenDisplay();
  EXPECT_EQ(Show(u"t", u"T", kIconStop), "T\nt\n");
  EXPECT_TRUE(std::filesystem::exists(Record()));
}

TEST_F(ShowMessageBoxTest, DialogInTheProgramFolderIsNeverRun) {
  WriteRecorderScript(programFolder_ / "zenity", Record());
  ScopedEnvironment path("PATH", programFolder_.Path());
  OpenDisplay();
  EXPECT_EQ(Show(u"t", u"T", kIconStop), "T\nt\n");
  EXPECT_FALSE(std::filesystem::exists(Record()));
}

struct DialogCase {
  const char* label;
  const char* program;
  int icon;
  std::vector<std::string> arguments;
};

class DialogTest : public ShowMessageBoxTest, public ::testing::WithParamInterface<DialogCase> {};

// The text holds what markup, rich text or escape handling would change: a tag, an ampersand,
// a Windows path with "\n" in it, and a real line break.
TEST_P(DialogTest, ShowsTheTextLiterallyWithTheRightIcon) {
  const DialogCase& c = GetParam();
  WriteRecorderScript(bin_ / c.program, Record());
  OpenDisplay();
  EXPECT_EQ(Show(u"<b>&</b> C:\\new\r\n2", u"題", c.icon), "");
  EXPECT_EQ(ReadRecordedArguments(Record()), c.arguments);
}

const char kKdialogText[] =
    "<qt><p style=\"white-space:pre-wrap\">&lt;b&gt;&amp;&lt;/b&gt; C:&#92;new<br>2</p></qt>";

INSTANTIATE_TEST_SUITE_P(
    Programs, DialogTest,
    ::testing::Values(
        DialogCase{"ZenityWarning", "zenity", kIconExclamation,
                   {"--warning", "--no-markup", "--title=題", "--text=<b>&</b> C:\\new\n2"}},
        DialogCase{"ZenityError", "zenity", kIconStop,
                   {"--error", "--no-markup", "--title=題", "--text=<b>&</b> C:\\new\n2"}},
        DialogCase{"KdialogWarning", "kdialog", kIconExclamation,
                   {"--title", "題", "--sorry", kKdialogText}},
        DialogCase{"KdialogError", "kdialog", kIconStop, {"--title", "題", "--error", kKdialogText}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace zipdrop
