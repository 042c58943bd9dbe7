// The desktop's dialog programs, zenity and kdialog: the one place that knows the commands that
// show our texts literally, how a text reaches them, and what the way they end means. Every text
// and title handed to them passes one escaping on its way in: it arrives as valid UTF-8, which
// zenity demands of each argument, with no control character that could act rather than show.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "zipdrop/extractor/secret.h"

namespace zipdrop {

/// One dialog to show: a program's argv (its name first), and the text it reads from its
/// standard input; empty for a program that reads nothing.
struct DialogCommand {
  std::vector<std::string> arguments;
  std::string input;
};

/// The text for a kdialog box, shown literally: declared rich text, with every character that Qt
/// or kdialog would read as markup or an escape written as an entity.
std::string AsLiteralRichText(const std::string& text);

/// The --text of a zenity dialog that reads Pango markup and backslash escapes (the progress
/// window), shown literally.
std::string AsLiteralMarkup(const std::string& text);

/// The --text of zenity's entry dialog, shown literally: even with --no-markup it expands
/// backslash escapes and takes an underscore as the mark of a keyboard shortcut.
std::string AsLiteralEntryText(const std::string& text);

/// The dialogs that show a message, zenity's before kdialog's: a warning for icon code 48, an
/// error for 16, information otherwise. A text too long for a box, or for an argument, is shown
/// in a window that scrolls, and handed over through the program's input.
std::vector<DialogCommand> MessageDialogs(const std::string& text, const std::string& title,
                                          int iconCode);

/// The dialogs that show a long text in a window of a fixed size that scrolls, zenity's first,
/// handed over through the program's input.
std::vector<DialogCommand> TextWindowDialogs(const std::string& text, const std::string& title);

/// The dialogs that ask for a password with the text as their question, zenity's first. The
/// password comes back on the program's standard output.
std::vector<DialogCommand> PasswordDialogs(const std::string& text, const std::string& title);

/// How a dialog ended.
enum class DialogEnd {
  kAccepted,  // OK.
  kDeclined,  // Cancel, Escape, or the window closed: the user's answer.
  kNotShown,  // No display, no program, or a program that failed: nobody has answered.
};

/// What a dialog program's exit status (as WaitForExit gives it: -1 for a signal) and its error
/// output mean. zenity ends with status 1 both for Cancel and when it cannot open the display, so
/// 1 is taken as the user's answer unless GTK has said it cannot open the display; RunDialog
/// starts a program only once DisplayAnswers has said yes, which makes that a sound reading.
DialogEnd EndOfDialog(int exitStatus, std::string_view errors = {});

/// A dialog's end, and what the program wrote on its standard output: an entry's text, or the
/// label of the extra button that ended a question (which zenity ends with status 1).
struct DialogAnswer {
  DialogEnd end = DialogEnd::kNotShown;
  Secret output;
  std::size_t shown = 0;  // Which of the dialogs offered was the one shown.
};

/// Shows the first of the dialogs whose program is found on the absolute PATH folders outside
/// programFolder and the current directory, and waits until it is closed. A dialog that is not
/// shown passes the turn to the next one. Nothing is run unless the display accepts us.
DialogAnswer RunDialog(const std::vector<DialogCommand>& dialogs, const std::string& programFolder);

/// Asks the question with one button per answer in zenity, else in kdialog's menu, whose own
/// Cancel button stands for the last answer. The index of the answer chosen, the last one for a
/// window closed without an answer, or nothing when neither program could show the question.
std::optional<std::size_t> AskToChoose(const std::string& text, const std::string& title,
                                       const std::vector<std::string>& answers,
                                       const std::string& programFolder);

/// zenity's progress window, which reads percentages from its input and ends when it closes.
class ProgressWindow {
 public:
  ProgressWindow() = default;
  ~ProgressWindow() { Close(); }
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  /// Opens the window when a display answers and zenity is found outside programFolder; false
  /// when it could not be opened. A stop requested meanwhile ends the display check at once.
  bool Open(const std::string& text, const std::string& title, const std::string& programFolder,
            std::stop_token stop);
  /// Moves the bar to percent and replaces the text under it; a window too busy to read is not
  /// waited for. Once the window has gone, nothing is sent, and how it ended is the answer.
  std::optional<DialogEnd> Update(int percent, const std::string& text);
  /// Closes the window, if it is open, and waits for its program to end.
  void Close();

 private:
  pid_t program_ = -1;
  UniqueFd input_;
};

}  // namespace zipdrop
