#include "platform/posix/process_spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/extractor/time_zone.h"
#include "platform/posix/interrupts.h"
#include "platform/posix/posix_error.h"

extern char** environ;

namespace zipdrop {

namespace {

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

// Our environment, less the time zone the extractor set for itself.
std::vector<char*> EnvironmentForChild() {
  const char* pinned = PinnedTimeZoneEntry();
  std::vector<char*> envp;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (pinned != nullptr && std::strcmp(*entry, pinned) == 0) continue;
    envp.push_back(*entry);
  }
  envp.push_back(nullptr);
  return envp;
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments,
            SpawnMode mode, int inputFd, int outputFd) {
  bool detached = mode == SpawnMode::kDetached;
  SpawnFileActions actions;
  if (inputFd >= 0) {
    actions.Duplicate(inputFd, STDIN_FILENO);
  } else {
    actions.OpenNull(STDIN_FILENO, O_RDONLY);
  }
  if (outputFd >= 0) {
    actions.Duplicate(outputFd, STDOUT_FILENO);
  } else {
    actions.OpenNull(STDOUT_FILENO, O_WRONLY);
  }
  if (detached) actions.OpenNull(STDERR_FILENO, O_WRONLY);
  SpawnAttributes attributes;
  attributes.ResetSignals(detached);

  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp = EnvironmentForChild();
  pid_t child = -1;
  int error = posix_spawn(&child, program.c_str(), actions.Get(), attributes.Get(), argv.data(),
                          envp.data());
  if (error != 0) ThrowSystemError("cannot start " + program, error);
  return child;
}

}  // namespace

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& arguments,
                   SpawnMode mode) {
  return Spawn(program, arguments, mode, -1, -1);
}

pid_t SpawnProgramReading(const std::string& program, const std::vector<std::string>& arguments,
                          int inputFd) {
  return Spawn(program, arguments, SpawnMode::kAttached, inputFd, -1);
}

pid_t SpawnProgramWriting(const std::string& program, const std::vector<std::string>& arguments,
                          int outputFd) {
  return Spawn(program, arguments, SpawnMode::kAttached, -1, outputFd);
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
