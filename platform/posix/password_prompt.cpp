#include "platform/posix/password_prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/dialog_programs.h"
#include "platform/posix/display_check.h"
#include "platform/posix/interrupts.h"
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
  UniqueFd wake(eventfd(0, EFD_CLOEXEC));
  if (!wake.Valid()) return std::nullopt;
  OnInterrupt restore([tty, &saved, &wake] {
    tcsetattr(tty, TCSAFLUSH, &saved);
    std::uint64_t one = 1;
    // An eventfd that is not full always takes the write.
    [[maybe_unused]] ssize_t written = write(wake.Get(), &one, sizeof one);
  });
  termios hidden = saved;
  hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  hidden.c_lflag |= ECHONL;
  if (tcsetattr(tty, TCSAFLUSH, &hidden) != 0) return std::nullopt;
  if (write(tty, question.data(), question.size()) < 0) {
    tcsetattr(tty, TCSAFLUSH, &saved);
    return std::nullopt;
  }
  Secret line;
  bool complete = false;
  for (;;) {
    pollfd fds[2] = {{tty, POLLIN, 0}, {wake.Get(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    char c = 0;
    ssize_t count = read(tty, &c, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    if (c == '\n') {
      complete = true;
      break;
    }
    line.Append(c);
    c = 0;
  }
  tcsetattr(tty, TCSAFLUSH, &saved);
  if (!complete) return std::nullopt;
  return line;
}

}  // namespace

std::string PasswordRequestText(PasswordRequest request, const std::string& archiveName,
                                const std::string& entryName) {
  switch (request) {
    case PasswordRequest::kFirst:
      return "「" + archiveName +
             "」はパスワードで保護されています。パスワードを入力してください。";
    case PasswordRequest::kWrong:
      return "パスワードが違います。「" + archiveName +
             "」のパスワードをもう一度入力してください。";
    case PasswordRequest::kAnotherEntry:
      return "「" + archiveName + "」の「" + entryName +
             "」は別のパスワードで保護されています。パスワードを入力してください。";
  }
  return "";
}

// Looked at only when a password is needed: most archives hold none.
void UserPasswordPrompt::Look() {
  if (looked_) return;
  looked_ = true;
  display_ = DisplayAnswers();
  terminal_ = UniqueFd(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
}

bool UserPasswordPrompt::CanAsk() {
  Look();
  return display_ || terminal_.Valid();
}

std::optional<Secret> UserPasswordPrompt::Ask(PasswordRequest request,
                                              const std::string& entryName) {
  Look();
  std::string text = PasswordRequestText(request, archiveName_, entryName);
  if (display_) {
    // A dialog that could not be shown is no answer: the terminal is asked instead.
    DialogAnswer answer = RunDialog(PasswordDialogs(text, kTitle), programFolder_);
    if (answer.end == DialogEnd::kAccepted) return std::move(answer.output);
    if (answer.end == DialogEnd::kDeclined) return std::nullopt;
  }
  if (!terminal_.Valid() || Interrupted()) return std::nullopt;
  // A name may hold control characters, and the terminal must not take them as its commands.
  std::string question =
      PasswordRequestText(request, PrintableName(archiveName_), PrintableName(entryName));
  return ReadHiddenLine(terminal_.Get(), "\r\x1b[K" + question + "\n" + kTitle + ": ");
}

}  // namespace zipdrop
