// Asking the user for an archive's password, as the Windows shell does when it meets an
// encrypted entry: in a dialog in a desktop session, on the controlling terminal otherwise.
#pragma once

#include <optional>
#include <string>

#include "platform/posix/ui/user_contact.h"
#include "zipdrop/extractor/password_source.h"
#include "zipdrop/extractor/secret.h"

namespace zipdrop {

/// The text that asks for the password of the archive (and, for kAnotherEntry, of its entry), with
/// the names shown as PrintableName shows them, on the terminal as in the dialog.
std::string PasswordRequestText(PasswordRequest request, const std::string& archiveName,
                                const std::string& entryName);

/// Asks in a dialog (dialog_programs.h; never a dialog program in programFolder)
/// when a display accepts us, else, or when no dialog could be shown, on the controlling terminal
/// with its echo off; the user's progress display holds back meanwhile. Cancel in the dialog is an
/// answer: the terminal is not asked then. The password never appears in an argument list, the
/// environment or any output: it is read from the dialog program's standard output or from the
/// terminal.
class UserPasswordPrompt : public PasswordSource {
 public:
  UserPasswordPrompt(std::string archiveName, std::string programFolder, UserContact& user)
      : archiveName_(std::move(archiveName)),
        programFolder_(std::move(programFolder)),
        user_(user) {}

  std::optional<Secret> Ask(PasswordRequest request, const std::string& entryName) override;

 private:
  std::string archiveName_;
  std::string programFolder_;
  UserContact& user_;
};

}  // namespace zipdrop
