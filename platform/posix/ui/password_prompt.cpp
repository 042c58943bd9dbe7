#include "platform/posix/ui/password_prompt.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/interrupts.h"
#include "platform/posix/ui/dialog_programs.h"
#include "platform/posix/ui/terminal_io.h"
#include "zipdrop/extractor/printable_name.h"

namespace zipdrop {

namespace {

constexpr const char* kTitle = "パスワード";

// Asks the question on the terminal and reads one line with its echo off; the echo goes off
// before the question appears, so nothing typed in answer is ever shown. The terminal's settings
// are put back on every way out, an interrupt included: the watcher puts them back at once, before
// the process may end, and wakes the read, which then gives no answer.
std::optional<Secret> ReadHiddenLine(int tty, const std::string& question) {
  termios saved;
  if (tcgetattr(tty, &saved) != 0) return std::nullopt;
  OnInterrupt restore([tty, &saved] { tcsetattr(tty, TCSAFLUSH, &saved); });
  termios hidden = saved;
  hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  hidden.c_lflag |= ECHONL;
  if (tcsetattr(tty, TCSAFLUSH, &hidden) != 0) return std::nullopt;
  // After Ctrl-Z and fg the shell has put the echo back on; it goes off again before anything
  // more is typed. Nothing typed is thrown away, unlike at the start.
  OnContinue hideAgain([tty, hidden] { tcsetattr(tty, TCSANOW, &hidden); });
  if (write(tty, question.data(), question.size()) < 0) {
    tcsetattr(tty, TCSAFLUSH, &saved);
    return std::nullopt;
  }
  Secret line;
  bool complete = ReadTerminalLine(tty, [&line](char c) { line.Append(c); });
  tcsetattr(tty, TCSAFLUSH, &saved);
  if (!complete) return std::nullopt;
  return line;
}

}  // namespace

std::string PasswordRequestText(PasswordRequest request, const std::string& archiveName,
                                const std::string& entryName) {
  switch (request) {
    case PasswordRequest::kFirst:
      return "「" + PrintableName(archiveName) +
             "」はパスワードで保護されています。パスワードを入力してください。";
    case PasswordRequest::kWrong:
      return "パスワードが違います。「" + PrintableName(archiveName) +
             "」のパスワードをもう一度入力してください。";
    case PasswordRequest::kAnotherEntry:
      return "「" + PrintableName(archiveName) + "」の「" + PrintableName(entryName) +
             "」は別のパスワードで保護されています。パスワードを入力してください。";
  }
  return "";
}

std::optional<Secret> UserPasswordPrompt::Ask(PasswordRequest request,
                                              const std::string& entryName) {
  UserContact::OpenQuestion open(user_);
  std::string text = PasswordRequestText(request, archiveName_, entryName);
  if (user_.Display()) {
    // A dialog that could not be shown is no answer: the terminal is asked instead.
    DialogAnswer answer = RunDialog(PasswordDialogs(text, kTitle), programFolder_);
    if (answer.end == DialogEnd::kAccepted) return std::move(answer.output);
    if (answer.end == DialogEnd::kDeclined) return std::nullopt;
  }
  if (user_.Terminal() < 0 || Interrupted()) return std::nullopt;
  return ReadHiddenLine(user_.Terminal(), "\r\x1b[K" + text + "\n" + kTitle + ": ");
}

}  // namespace zipdrop
