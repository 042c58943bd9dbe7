#include "platform/posix/clash_question.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform_services.h"
#include "platform/posix/display_check.h"
#include "platform/posix/message_box.h"
#include "platform/posix/process_spawn.h"
#include "platform/posix/program_search.h"

namespace zipdrop {

namespace {

// What a dialog program said: whether it was shown at all, and what it wrote.
struct DialogAnswer {
  bool shown = false;
  int status = -1;
  std::string output;  // Without the newline that ends it.
};

std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[256];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    text.append(buffer, static_cast<std::size_t>(count));
  }
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// zenity and kdialog answer 0 or 1 (a button, or the window closed); anything else means the
// dialog could not be shown.
DialogAnswer RunDialog(const std::vector<std::string>& command, const std::string& programFolder) {
  std::optional<std::string> path = FindTrustedProgram(command[0], programFolder);
  if (!path) return {};
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return {};
  UniqueFd reading(ends[0]), writing(ends[1]);
  pid_t child = -1;
  try {
    child = SpawnProgramWriting(*path, command, writing.Get());
  } catch (const PlatformError&) {
    return {};
  }
  writing.Reset();
  DialogAnswer answer;
  answer.output = ReadToEnd(reading.Get());
  answer.status = WaitForExit(child);
  answer.shown = answer.status == 0 || answer.status == 1;
  return answer;
}

// A question with one button per answer; zenity prints the label of the button pressed. The last
// answer is Cancel, which is also what closing the window means.
std::optional<std::size_t> AskWithZenity(const std::string& text,
                                         const std::vector<std::string>& answers,
                                         const std::string& programFolder) {
  std::vector<std::string> command = {"zenity",
                                      "--question",
                                      "--switch",
                                      "--no-markup",
                                      std::string("--title=") + kClashTitle,
                                      "--text=" + text};
  for (const std::string& answer : answers) command.push_back("--extra-button=" + answer);
  DialogAnswer answer = RunDialog(command, programFolder);
  if (!answer.shown) return std::nullopt;
  for (std::size_t i = 0; i < answers.size(); ++i) {
    if (answer.output == answers[i]) return i;
  }
  return answers.size() - 1;
}

// kdialog's menu prints the tag of the item chosen, and has a Cancel button of its own.
std::optional<std::size_t> AskWithKdialog(const std::string& text,
                                          const std::vector<std::string>& answers,
                                          const std::string& programFolder) {
  std::vector<std::string> command = {"kdialog", "--title", kClashTitle, "--menu",
                                      AsLiteralRichText(text)};
  for (std::size_t i = 0; i + 1 < answers.size(); ++i) {
    command.push_back(std::to_string(i));
    command.push_back(answers[i]);
  }
  DialogAnswer answer = RunDialog(command, programFolder);
  if (!answer.shown) return std::nullopt;
  for (std::size_t i = 0; i + 1 < answers.size(); ++i) {
    if (answer.status == 0 && answer.output == std::to_string(i)) return i;
  }
  return answers.size() - 1;
}

void WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
  }
}

// One line typed on the terminal; nothing at its end or when it fails.
std::optional<std::string> ReadLine(int tty) {
  std::string line;
  for (;;) {
    char c = 0;
    ssize_t count = read(tty, &c, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return std::nullopt;
    if (c == '\n') return line;
    line.push_back(c);
  }
}

}  // namespace

std::string ClashQuestionText(const std::string& archiveName, std::uint64_t count) {
  return "「" + archiveName + "」の " + std::to_string(count) +
         " 個のファイルは既にあります。置き換えますか?";
}

std::string FileClashQuestionText(const std::string& entryName, std::uint64_t remaining) {
  std::string text = "「" + entryName + "」は既にあります。置き換えますか?";
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

// Short labels: zenity makes every button as wide as the widest, and five of them must still fit
// a small screen.
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
ClashChoice UserClashQuestion::AskAll(std::uint64_t count) {
  std::optional<std::size_t> chosen =
      Choose(ClashQuestionText(archiveName_, count), ClashAnswers());
  return chosen ? static_cast<ClashChoice>(*chosen) : ClashChoice::kSkip;
}

FileClashChoice UserClashQuestion::AskOne(const std::string& name, std::uint64_t remaining) {
  std::optional<std::size_t> chosen =
      Choose(FileClashQuestionText(name, remaining), FileClashAnswers());
  return chosen ? static_cast<FileClashChoice>(*chosen) : FileClashChoice::kSkip;
}

// Whether a display answers and the terminal are looked at once, on the first question: most
// runs ask none.
std::optional<std::size_t> UserClashQuestion::Choose(const std::string& text,
                                                     const std::vector<std::string>& answers) {
  if (!looked_) {
    looked_ = true;
    display_ = DisplayAnswers();
    terminal_ = UniqueFd(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  }
  if (display_) {
    std::optional<std::size_t> chosen = AskWithZenity(text, answers, programFolder_);
    if (!chosen) chosen = AskWithKdialog(text, answers, programFolder_);
    if (chosen) return chosen;
  }
  return ChooseOnTerminal(text, answers);
}

// The choices are numbered; Enter alone skips, as the safe answer.
std::optional<std::size_t> UserClashQuestion::ChooseOnTerminal(
    const std::string& text, const std::vector<std::string>& answers) {
  if (!terminal_.Valid()) return std::nullopt;
  std::string menu = "\r\x1b[K" + text + "\n";
  for (std::size_t i = 0; i < answers.size(); ++i) {
    menu += "  " + std::to_string(i + 1) + ") " + answers[i] + "\n";
  }
  std::string prompt = "番号を選んでください [2]: ";
  WriteAll(terminal_.Get(), menu);
  for (;;) {
    WriteAll(terminal_.Get(), prompt);
    std::optional<std::string> line = ReadLine(terminal_.Get());
    if (!line) return std::nullopt;
    if (std::optional<std::size_t> chosen = TerminalAnswer(*line, answers.size())) return chosen;
  }
}

}  // namespace zipdrop
