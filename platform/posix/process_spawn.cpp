#include "platform/posix/process_spawn.h"

#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/interrupts.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/time_zone.h"

extern char** environ;

namespace zipdrop {

namespace {

constexpr char kJapaneseLocale[] = "ja_JP.UTF-8";

class SpawnFileActions {
 public:
  SpawnFileActions() { Check(posix_spawn_file_actions_init(&actions_)); }
  ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  void OpenNull(int fd, int flags) {
    Check(posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", flags, 0));
  }
  void Duplicate(int from, int to) { Check(posix_spawn_file_actions_adddup2(&actions_, from, to)); }
  const posix_spawn_file_actions_t* Get() const { return &actions_; }

 private:
  static void Check(int error) {
    if (error != 0) ThrowSystemError("cannot prepare a process start", error);
  }
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { Check(posix_spawnattr_init(&attributes_)); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  // The child gets an empty signal mask and default handlers, whatever ours were: a program
  // that inherits a blocked SIGTERM or an ignored SIGPIPE misbehaves in ways hard to trace.
  void ResetSignals(bool newSession) {
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    Check(posix_spawnattr_setsigmask(&attributes_, &none));
    Check(posix_spawnattr_setsigdefault(&attributes_, &all));
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    if (newSession) flags |= POSIX_SPAWN_SETSID;
#else
    (void)newSession;  // Without the flag the child stays in our session; nothing else differs.
#endif
    Check(posix_spawnattr_setflags(&attributes_, flags));
  }
  const posix_spawnattr_t* Get() const { return &attributes_; }

 private:
  static void Check(int error) {
    if (error != 0) ThrowSystemError("cannot prepare a process start", error);
  }
  posix_spawnattr_t attributes_;
};

// The dialogs' text is Japanese, and their buttons follow the locale: a dialog started in the C
// locale shows "Cancel" beside Japanese text. Where a Japanese locale is installed, the dialog
// programs get it. Only the children's environment changes; newlocale leaves ours alone.
bool JapaneseLocaleInstalled() {
  static const bool installed = [] {
    locale_t japanese = newlocale(LC_ALL_MASK, kJapaneseLocale, static_cast<locale_t>(0));
    if (japanese == static_cast<locale_t>(0)) return false;
    freelocale(japanese);
    return true;
  }();
  return installed;
}

// LANGUAGE would still choose the messages' language over LC_ALL, and the LC_ names are
// overridden by LC_ALL anyway: all of them go, and LC_ALL and LANG come instead.
bool IsLocaleEntry(std::string_view entry) {
  return entry.starts_with("LANG=") || entry.starts_with("LANGUAGE=") || entry.starts_with("LC_");
}

// Our environment, less the time zone the extractor set for itself; for a dialog program, in the
// Japanese locale when there is one.
std::vector<char*> EnvironmentForChild(SpawnMode mode) {
  static std::string japaneseAll = std::string("LC_ALL=") + kJapaneseLocale;
  static std::string japaneseLang = std::string("LANG=") + kJapaneseLocale;
  bool japanese = mode == SpawnMode::kAttached && JapaneseLocaleInstalled();
  const char* pinned = PinnedTimeZoneEntry();
  std::vector<char*> envp;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (pinned != nullptr && std::strcmp(*entry, pinned) == 0) continue;
    if (japanese && IsLocaleEntry(*entry)) continue;
    envp.push_back(*entry);
  }
  if (japanese) {
    envp.push_back(japaneseAll.data());
    envp.push_back(japaneseLang.data());
  }
  envp.push_back(nullptr);
  return envp;
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments, SpawnMode mode,
            const ChildStreams& streams) {
  bool detached = mode == SpawnMode::kDetached;
  SpawnFileActions actions;
  if (streams.input >= 0) {
    actions.Duplicate(streams.input, STDIN_FILENO);
  } else {
    actions.OpenNull(STDIN_FILENO, O_RDONLY);
  }
  if (streams.output >= 0) {
    actions.Duplicate(streams.output, STDOUT_FILENO);
  } else {
    actions.OpenNull(STDOUT_FILENO, O_WRONLY);
  }
  if (detached) {
    actions.OpenNull(STDERR_FILENO, O_WRONLY);
  } else if (streams.error >= 0) {
    actions.Duplicate(streams.error, STDERR_FILENO);
  }
  SpawnAttributes attributes;
  attributes.ResetSignals(detached);

  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp = EnvironmentForChild(mode);
  pid_t child = -1;
  int error = posix_spawn(&child, program.c_str(), actions.Get(), attributes.Get(), argv.data(),
                          envp.data());
  if (error != 0) ThrowSystemError("cannot start " + program, error);
  return child;
}

}  // namespace

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& arguments,
                   SpawnMode mode) {
  return Spawn(program, arguments, mode, {});
}

pid_t SpawnProgramReading(const std::string& program, const std::vector<std::string>& arguments,
                          int inputFd) {
  return Spawn(program, arguments, SpawnMode::kAttached, {inputFd, -1, -1});
}

pid_t SpawnProgramWith(const std::string& program, const std::vector<std::string>& arguments,
                       const ChildStreams& streams) {
  return Spawn(program, arguments, SpawnMode::kAttached, streams);
}

int WaitForExit(pid_t child) {
  {
    // An interrupt ends the child too, so that no dialog of ours stays on the screen. The child
    // is waited for without being reaped, so that its id cannot pass to another process while
    // the watcher may still send it the signal.
    OnInterrupt endChild([child] { kill(child, SIGTERM); });
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) < 0) {
      if (errno != EINTR) ThrowSystemError("cannot wait for process " + std::to_string(child));
    }
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) ThrowSystemError("cannot wait for process " + std::to_string(child));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace zipdrop
