// ShowMessage on POSIX: a desktop dialog when there is a desktop, standard error otherwise.
#pragma once

#include <string>
#include <vector>

namespace zipdrop {

enum class DialogProgram { kZenity, kKdialog };

/// The command (argv[0] first) that shows text literally in a modal dialog of program with the
/// title and the icon for iconCode (48 a warning, 16 an error, anything else information).
/// text and title are UTF-8 with '\n' line breaks.
std::vector<std::string> DialogCommand(DialogProgram program, const std::string& text,
                                       const std::string& title, int iconCode);

/// What goes to standard error instead: the title on a line of its own, then the text.
std::string ConsoleMessage(const std::string& text, const std::string& title);

/// Turns Windows line breaks (CR LF, and a lone CR) into '\n' and the text into UTF-8.
std::string MessageBytes(const std::u16string& text);

/// Shows the message and returns once the user has closed it. The dialog program is looked up
/// on the absolute PATH folders other than programFolder and the current directory; when there
/// is no graphical session, no dialog program, or it fails, the message goes to standard error.
void ShowMessageBox(const std::u16string& text, const std::u16string& title, int iconCode,
                    const std::string& programFolder);

}  // namespace zipdrop
