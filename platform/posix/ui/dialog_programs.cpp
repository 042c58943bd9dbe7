#include "platform/posix/ui/dialog_programs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <utility>

#include "platform/platform_services.h"
#include "platform/posix/fd_io.h"
#include "platform/posix/interrupts.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/process_spawn.h"
#include "platform/posix/program_search.h"
#include "platform/posix/ui/display_check.h"
#include "zipdrop/extractor/printable_name.h"

namespace zipdrop {

namespace {

// Longer texts are shown in a window that scrolls: a box that large no longer fits the screen,
// and the kernel refuses an argument of 128 KiB or more outright (E2BIG).
constexpr std::size_t kLongestBoxText = 4096;

// What a dialog program says on standard error is kept up to this, to be looked at and passed on.
constexpr std::size_t kErrorsKept = 64 * 1024;

// The text with each character that has a replacement written as that.
std::string Replaced(const std::string& text,
                     std::initializer_list<std::pair<char, const char*>> replacements) {
  std::string out;
  for (char c : text) {
    auto found = std::find_if(replacements.begin(), replacements.end(),
                              [c](const auto& replacement) { return replacement.first == c; });
    if (found != replacements.end()) {
      out += found->second;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Each line of a text as a name is shown: valid UTF-8 with every control but the line breaks
// escaped. zenity refuses to start on an argument that is not UTF-8, and a control would act in
// the window rather than show. The names in a text were made printable on their own already,
// where their encoding could still be guessed; this catches whatever else would reach a program.
std::string Shown(const std::string& text) {
  std::string shown;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    if (start > 0) shown += '\n';
    shown += PrintableName(std::string_view(text).substr(start, end - start));
    start = end + 1;
  }
  return shown;
}

std::vector<DialogCommand> MessageBoxes(const std::string& givenText, const std::string& givenTitle,
                                        int iconCode) {
  std::string text = Shown(givenText), title = Shown(givenTitle);
  const char* zenityKind = iconCode == kIconExclamation ? "--warning"
                           : iconCode == kIconStop      ? "--error"
                                                        : "--info";
  const char* kdialogKind = iconCode == kIconExclamation ? "--sorry"
                            : iconCode == kIconStop      ? "--error"
                                                         : "--msgbox";
  // --no-markup shows the text as it is: without it zenity parses Pango markup and also
  // expands backslash escapes, which would eat the backslashes of a Windows path.
  return {{{"zenity", zenityKind, "--no-markup", "--title=" + title, "--text=" + text}, ""},
          {{"kdialog", "--title", title, kdialogKind, AsLiteralRichText(text)}, ""}};
}

// A file in memory that holds the text, to be a program's standard input or error. Unlike a
// pipe it never fills up, so neither side waits for the other, and writing to it raises no
// SIGPIPE; and kdialog can open it again by the name /dev/stdin, which a socket does not allow.
UniqueFd FileInMemory(std::string_view text) {
  UniqueFd fd(memfd_create("zipdrop-dialog", MFD_CLOEXEC));
  if (!fd.Valid()) ThrowSystemError("cannot make a file in memory");
  if (int error = WriteAll(fd.Get(), text.data(), text.size()).error; error != 0) {
    errno = error;
    ThrowSystemError("cannot write a file in memory");
  }
  if (lseek(fd.Get(), 0, SEEK_SET) != 0) ThrowSystemError("cannot rewind a file in memory");
  return fd;
}

// What the program wrote into the file, from its start, up to kErrorsKept bytes.
std::string ReadFromStart(int fd) {
  std::string text(kErrorsKept, '\0');
  text.resize(ReadAt(fd, text.data(), text.size(), 0).count);
  return text;
}

// Reads what a program writes to standard output, to its end, straight into a secret. The
// newline that ends the line is not part of the answer.
Secret ReadAll(int fd) {
  Secret text;
  char c = 0;
  while (ReadSome(fd, &c, 1).count == 1) text.Append(c);
  c = 0;
  if (!text.Empty() && text.View().back() == '\n') text.PopBack();
  return text;
}

// Runs one dialog program to its end. Only its answer is read while it runs: its input and its
// error output are files in memory, so nothing can fill up and leave it waiting on us. What it
// said on standard error is looked at once it has ended, and then passed on to ours.
DialogAnswer RunToEnd(const std::string& path, const DialogCommand& dialog) {
  UniqueFd input = dialog.input.empty() ? UniqueFd() : FileInMemory(dialog.input);
  UniqueFd errors = FileInMemory("");
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) ThrowSystemError("cannot make a pipe");
  UniqueFd reading(ends[0]), writing(ends[1]);
  pid_t child =
      SpawnProgramWith(path, dialog.arguments, {input.Get(), writing.Get(), errors.Get()});
  writing.Reset();
  DialogAnswer answer;
  {
    // An interrupt closes the dialog: it must not stay on the screen of a run that has ended.
    OnInterrupt endDialog([child] { kill(child, SIGTERM); });
    answer.output = ReadAll(reading.Get());
  }
  int status = WaitForExit(child);
  std::string said = ReadFromStart(errors.Get());
  std::fwrite(said.data(), 1, said.size(), stderr);
  std::fflush(stderr);
  answer.end = EndOfDialog(status, said);
  if (answer.end == DialogEnd::kNotShown) answer.output = Secret();
  return answer;
}

// The line of the progress window's input that replaces the text under its bar with the given
// text, shown literally: such a line expands backslash escapes, and a newline would end it early.
std::string AsProgressTextLine(const std::string& text) {
  return "# " + Replaced(Shown(text), {{'\\', "\\\\"}, {'\n', "\\n"}}) + "\n";
}

// --auto-close makes zenity close when its input ends, so the window goes with us even when we
// are killed; we never send 100, which would close it too. Its own estimate of the time left is
// not asked for: it was found wrong, and ours is steadier.
std::vector<std::string> ProgressWindowCommand(const std::string& text, const std::string& title) {
  return {"zenity",        "--progress",
          "--auto-close",  "--title=" + Shown(title),
          "--width=420",   "--text=" + AsLiteralMarkup(Shown(text)),
          "--percentage=0"};
}

}  // namespace

// Qt guesses whether a text is rich text, so a plain text that happens to start with a tag
// would be rendered as markup. Declaring rich text outright and escaping every special
// character removes the guess. The backslash is escaped too, because kdialog expands "\n".
std::string AsLiteralRichText(const std::string& text) {
  return "<qt><p style=\"white-space:pre-wrap\">" +
         Replaced(text, {{'&', "&amp;"},
                         {'<', "&lt;"},
                         {'>', "&gt;"},
                         {'"', "&quot;"},
                         {'\'', "&#39;"},
                         {'\\', "&#92;"},
                         {'\n', "<br>"}}) +
         "</p></qt>";
}

std::string AsLiteralMarkup(const std::string& text) {
  return Replaced(text, {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'\\', "\\\\"}});
}

// The entry dialog's text goes through g_strcompress, which turns "\\" into one backslash, and
// then into a label with a keyboard shortcut, where "__" stands for one underscore.
std::string AsLiteralEntryText(const std::string& text) {
  return Replaced(text, {{'\\', "\\\\"}, {'_', "__"}});
}

// A window of 640×440 fits an 800×600 screen with room for a panel. zenity shows its input as
// plain text. kdialog opens the file it is given by name, /dev/stdin here, and adds it line by
// line, guessing for each line whether it is rich text; so each line is declared rich text and
// escaped, as the boxes' texts are.
std::vector<DialogCommand> TextWindowDialogs(const std::string& givenText,
                                             const std::string& givenTitle) {
  std::string text = Shown(givenText), title = Shown(givenTitle);
  std::string lines;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    lines += AsLiteralRichText(text.substr(start, end - start)) + "\n";
    start = end + 1;
  }
  return {{{"zenity", "--text-info", "--title=" + title, "--width=640", "--height=440"}, text},
          {{"kdialog", "--title", title, "--textbox", "/dev/stdin", "640", "440"}, lines}};
}

std::vector<DialogCommand> MessageDialogs(const std::string& text, const std::string& title,
                                          int iconCode) {
  if (text.size() > kLongestBoxText) return TextWindowDialogs(text, title);
  return MessageBoxes(text, title, iconCode);
}

// The question stays an argument: it holds at most one entry's name, which a ZIP archive keeps
// under 64 KiB, well inside the kernel's limit for one argument.
std::vector<DialogCommand> PasswordDialogs(const std::string& givenText,
                                           const std::string& givenTitle) {
  std::string text = Shown(givenText), title = Shown(givenTitle);
  return {{{"zenity", "--entry", "--hide-text", "--no-markup", "--title=" + title,
            "--text=" + AsLiteralEntryText(text)},
           ""},
          {{"kdialog", "--title", title, "--password", AsLiteralRichText(text)}, ""}};
}

DialogEnd EndOfDialog(int exitStatus, std::string_view errors) {
  // GTK's words when the display refuses it; zenity then ends as if Cancel had been pressed.
  if (errors.find("cannot open display") != std::string_view::npos) return DialogEnd::kNotShown;
  if (exitStatus == 0) return DialogEnd::kAccepted;
  if (exitStatus == 1) return DialogEnd::kDeclined;
  return DialogEnd::kNotShown;
}

DialogAnswer RunDialog(const std::vector<DialogCommand>& dialogs,
                       const std::string& programFolder) {
  if (!DisplayAnswers()) return {};
  for (std::size_t i = 0; i < dialogs.size(); ++i) {
    std::optional<std::string> path = FindTrustedProgram(dialogs[i].arguments[0], programFolder);
    if (!path) continue;
    try {
      DialogAnswer answer = RunToEnd(*path, dialogs[i]);
      answer.shown = i;
      // A dialog ended by an interrupt is not one that could not be shown: no other is tried.
      if (answer.end != DialogEnd::kNotShown || Interrupted()) return answer;
    } catch (const PlatformError&) {
      // A program that cannot be started has shown nothing; the next one may.
    }
  }
  return {};
}

// zenity names the button pressed, with --switch leaving only ours; kdialog's menu names the tag
// of the item chosen.
std::optional<std::size_t> AskToChoose(const std::string& givenText, const std::string& givenTitle,
                                       const std::vector<std::string>& answers,
                                       const std::string& programFolder) {
  std::string text = Shown(givenText), title = Shown(givenTitle);
  DialogCommand zenity{
      {"zenity", "--question", "--switch", "--no-markup", "--title=" + title, "--text=" + text},
      ""};
  for (const std::string& answer : answers) zenity.arguments.push_back("--extra-button=" + answer);
  DialogCommand kdialog{{"kdialog", "--title", title, "--menu", AsLiteralRichText(text)}, ""};
  for (std::size_t i = 0; i + 1 < answers.size(); ++i) {
    kdialog.arguments.push_back(std::to_string(i));
    kdialog.arguments.push_back(answers[i]);
  }
  DialogAnswer answer = RunDialog({zenity, kdialog}, programFolder);
  if (answer.end == DialogEnd::kNotShown) return std::nullopt;
  for (std::size_t i = 0; i + 1 < answers.size(); ++i) {
    bool chosen = answer.shown == 0 ? answer.output.View() == answers[i]
                                    : answer.end == DialogEnd::kAccepted &&
                                          answer.output.View() == std::to_string(i);
    if (chosen) return i;
  }
  return answers.size() - 1;
}

bool ProgressWindow::Open(const std::string& text, const std::string& title,
                          const std::string& programFolder, std::stop_token stop) {
  Close();
  if (!DisplayAnswers(stop)) return false;
  std::optional<std::string> zenity = FindTrustedProgram("zenity", programFolder);
  if (!zenity) return false;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
  UniqueFd ours(ends[0]), theirs(ends[1]);
  try {
    program_ = SpawnProgramReading(*zenity, ProgressWindowCommand(text, title), theirs.Get());
  } catch (const PlatformError&) {
    return false;
  }
  input_ = std::move(ours);
  return true;
}

// The display accepted us just before the window was opened, so its status 1 is the user's
// Cancel or the window closed.
std::optional<DialogEnd> ProgressWindow::Update(int percent, const std::string& text) {
  if (program_ < 0) return DialogEnd::kNotShown;
  int status = 0;
  if (waitpid(program_, &status, WNOHANG) == program_) {
    program_ = -1;
    input_.Reset();
    return EndOfDialog(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  // zenity takes 100 as the end, so the window shows it only once the run has ended.
  std::string line = std::to_string(std::min(99, percent)) + "\n" + AsProgressTextLine(text);
  send(input_.Get(), line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  return std::nullopt;
}

void ProgressWindow::Close() {
  if (program_ < 0) return;
  input_.Reset();
  kill(program_, SIGTERM);
  int status = 0;
  while (waitpid(program_, &status, 0) < 0 && errno == EINTR) {
  }
  program_ = -1;
}

}  // namespace zipdrop
