// ShowMessage on POSIX: a desktop dialog when there is a desktop, standard error otherwise.
#pragma once

#include <string>

namespace zipdrop {

/// Turns Windows line breaks (CR LF, and a lone CR) into '\n' and the text into UTF-8.
std::string MessageBytes(const std::u16string& text);

/// Shows the message and returns once the user has closed it: a warning for icon code 48, an
/// error for 16, information otherwise, and the text shown as it is, never as markup. The dialog program is looked up
/// on the absolute PATH folders other than programFolder and the current directory; when there
/// is no graphical session, no dialog program, or it fails, the message goes to standard error.
void ShowMessageBox(const std::u16string& text, const std::u16string& title, int iconCode,
                    const std::string& programFolder);

}  // namespace zipdrop
