// ShowMessage on POSIX: a desktop dialog when there is a desktop, standard error otherwise.
#pragma once

#include <string>

namespace zipdrop {

/// Turns Windows line breaks (CR LF, and a lone CR) into '\n' and the text into UTF-8.
std::string MessageBytes(const std::u16string& text);

/// Shows the UTF-8 text in a modal dialog as ShowMessageBox does and returns true once the user
/// has closed it; false, without a word of ours, when no display accepts us or no dialog program
/// shows the text.
bool ShowDialog(const std::string& text, const std::string& title, int iconCode,
                const std::string& programFolder);

/// Writes the text to standard error at once; throws PlatformError when it cannot.
void WriteToStandardError(const std::string& text);

/// Shows the message and returns once the user has closed it: a warning for icon code 48, an
/// error for 16, information otherwise, and the text shown as it is, never as markup. The dialog
/// program is looked up on the absolute PATH folders other than programFolder and the current
/// directory; when no display accepts us, there is no dialog program, or it fails, the message
/// goes to standard error.
void ShowMessageBox(const std::u16string& text, const std::u16string& title, int iconCode,
                    const std::string& programFolder);

}  // namespace zipdrop
