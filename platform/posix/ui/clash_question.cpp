#include "platform/posix/ui/clash_question.h"

#include "platform/posix/ui/dialog_programs.h"
#include "platform/posix/ui/terminal_io.h"
#include "zipdrop/extractor/printable_name.h"

namespace zipdrop {

std::string ClashQuestionText(const std::string& archiveName, std::uint64_t count,
                              const std::vector<std::string>& kept) {
  std::string text = "「" + PrintableName(archiveName) + "」の " + std::to_string(count) +
                     " 個のファイルは既にあります。置き換えますか?";
  if (kept.empty()) return text;
  // Without /proc every file beside the program is kept: a few names tell why, the rest a count.
  constexpr std::size_t kNamed = 3;
  text += "\nzipdrop が使うファイルは置き換えません:";
  for (std::size_t k = 0; k < kept.size() && k < kNamed; ++k) text += " 「" + kept[k] + "」";
  if (kept.size() > kNamed) text += " ほか " + std::to_string(kept.size() - kNamed) + " 個";
  return text;
}

std::string FileClashQuestionText(const std::string& entryName, std::uint64_t remaining) {
  std::string text = "「" + PrintableName(entryName) + "」は既にあります。置き換えますか?";
  if (remaining > 1) {
    text += "\n「すべて」は、これを含む残りの " + std::to_string(remaining) +
            " 個のファイルに同じ答えを使います。";
  }
  return text;
}

const std::vector<std::string>& ClashAnswers() {
  static const std::vector<std::string> answers = {"置き換える", "スキップ", "ファイルごとに決める",
                                                   "キャンセル"};
  return answers;
}

// Short labels: the dialog makes every button as wide as the widest, and five of them must still
// fit a small screen.
const std::vector<std::string>& FileClashAnswers() {
  static const std::vector<std::string> answers = {"置き換える", "スキップ", "すべて置換",
                                                   "すべてスキップ", "キャンセル"};
  return answers;
}

std::optional<std::size_t> TerminalAnswer(const std::string& line, std::size_t count) {
  std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return 1;
  std::size_t last = line.find_last_not_of(" \t");
  std::string word = line.substr(first, last - first + 1);
  if (word.size() != 1 || word[0] < '1' || static_cast<std::size_t>(word[0] - '0') > count) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(word[0] - '1');
}

// The answers are listed in the order of the choices' enumerators.
// The questions about each file follow one another, and the progress display must not slip in
// between them: the question stays open from the answer "decide for each file" until the one about
// the last file, or until an answer that settles the rest.
ClashChoice UserClashQuestion::AskAll(std::uint64_t count, const std::vector<std::string>& kept) {
  std::optional<std::size_t> chosen =
      Choose(ClashQuestionText(archiveName_, count, kept), ClashAnswers());
  ClashChoice choice = chosen ? static_cast<ClashChoice>(*chosen) : ClashChoice::kSkip;
  if (choice == ClashChoice::kDecideEach) eachFile_.emplace(user_);
  return choice;
}

FileClashChoice UserClashQuestion::AskOne(const std::string& name, std::uint64_t remaining) {
  std::optional<std::size_t> chosen =
      Choose(FileClashQuestionText(name, remaining), FileClashAnswers());
  FileClashChoice choice = chosen ? static_cast<FileClashChoice>(*chosen) : FileClashChoice::kSkip;
  bool more =
      remaining > 1 && (choice == FileClashChoice::kReplace || choice == FileClashChoice::kSkip);
  if (!more) eachFile_.reset();
  return choice;
}

std::optional<std::size_t> UserClashQuestion::Choose(const std::string& text,
                                                     const std::vector<std::string>& answers) {
  UserContact::OpenQuestion open(user_);
  if (user_.Display()) {
    if (std::optional<std::size_t> chosen =
            AskToChoose(text, kClashTitle, answers, programFolder_)) {
      return chosen;
    }
  }
  return ChooseOnTerminal(text, answers);
}

// The choices are numbered; Enter alone skips, as the safe answer.
std::optional<std::size_t> UserClashQuestion::ChooseOnTerminal(
    const std::string& text, const std::vector<std::string>& answers) {
  int terminal = user_.Terminal();
  if (terminal < 0) return std::nullopt;
  std::string menu = "\r\x1b[K" + text + "\n";
  for (std::size_t i = 0; i < answers.size(); ++i) {
    menu += "  " + std::to_string(i + 1) + ") " + answers[i] + "\n";
  }
  std::string prompt = "番号を選んでください [2]: ";
  WriteToTerminal(terminal, menu);
  for (;;) {
    WriteToTerminal(terminal, prompt);
    std::string line;
    if (!ReadTerminalLine(terminal, [&line](char c) { line.push_back(c); })) {
      return std::nullopt;
    }
    if (std::optional<std::size_t> chosen = TerminalAnswer(line, answers.size())) return chosen;
  }
}

}  // namespace zipdrop
