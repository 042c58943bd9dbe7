// Asking the user what to do with files that already exist, as the Windows shell does when its
// copy meets them: in a dialog in a desktop session, on the controlling terminal otherwise, and
// nowhere (the files are skipped) when neither is there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/ui/user_contact.h"
#include "zipdrop/extractor/clashes.h"

namespace zipdrop {

/// The dialog's title, as the Windows shell titles its own.
inline constexpr char kClashTitle[] = "ファイルの置換またはスキップ";

/// The question about the whole archive, and the one about a single file, with the name shown as
/// PrintableName shows it: the terminal and the dialog get the same safe text. The question about
/// the archive names the files that are kept whatever the answer (already printable), a few of
/// them.
std::string ClashQuestionText(const std::string& archiveName, std::uint64_t count,
                              const std::vector<std::string>& kept = {});
std::string FileClashQuestionText(const std::string& entryName, std::uint64_t remaining);

/// The answers, in the order the dialog's buttons and the terminal's numbers offer them.
const std::vector<std::string>& ClashAnswers();
const std::vector<std::string>& FileClashAnswers();

/// What a terminal answer (a line the user typed) chooses among `count` numbered answers: its
/// index; the default (the second, skip) for an empty line; nothing for anything else.
std::optional<std::size_t> TerminalAnswer(const std::string& line, std::size_t count);

/// Asks with a dialog program (dialog_programs.h; never one in programFolder) when a display
/// answers, else on the controlling terminal; skips when no one can be asked. The user's
/// progress display holds back while a question is open.
class UserClashQuestion : public ClashQuestion {
 public:
  UserClashQuestion(std::string archiveName, std::string programFolder, UserContact& user)
      : archiveName_(std::move(archiveName)),
        programFolder_(std::move(programFolder)),
        user_(user) {}

  ClashChoice AskAll(std::uint64_t count, const std::vector<std::string>& kept) override;
  FileClashChoice AskOne(const std::string& name, std::uint64_t remaining) override;

 private:
  // The index of the answer chosen; the last (cancel) for a closed dialog; nothing when no one
  // could be asked.
  std::optional<std::size_t> Choose(const std::string& text,
                                    const std::vector<std::string>& answers);
  std::optional<std::size_t> ChooseOnTerminal(const std::string& text,
                                              const std::vector<std::string>& answers);

  std::string archiveName_;
  std::string programFolder_;
  UserContact& user_;
  std::optional<UserContact::OpenQuestion> eachFile_;  // Held across the questions about each file.
};

}  // namespace zipdrop
