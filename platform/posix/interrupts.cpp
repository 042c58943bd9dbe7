#include "platform/posix/interrupts.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <mutex>
#include <system_error>
#include <thread>

#include "platform/posix/fd_io.h"
#include "platform/posix/unique_fd.h"

namespace zipdrop {

namespace {

// The state the watcher shares with the threads that register actions. It is never destroyed:
// the watcher thread still waits on it while the program exits.
struct Watch {
  std::mutex mutex;
  std::list<std::function<void()>> actions;
  std::list<std::function<void()>> onContinue;
  int deferrals = 0;
  int received = 0;
  UniqueFd signalFd;
};

Watch& TheWatch() {
  static Watch* watch = new Watch;
  return *watch;
}

bool IsIgnored(int signal) {
  struct sigaction action {};
  return sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

// Ends the process by the signal, as if it had never been held back: its default action, let
// through on this thread only, since every other thread still holds it.
[[noreturn]] void EndBy(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);  // Reached only if the signal could not end us.
}

int ReadSignal(int fd) {
  signalfd_siginfo info;
  IoResult read = ReadSome(fd, &info, sizeof info);
  return read.count == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
}

// Only the first interrupt counts: a second one while the work unwinds must not cut short the
// clean-up that the first one started.
void Watcher(Watch& watch) {
  while (int signal = ReadSignal(watch.signalFd.Get())) {
    std::lock_guard lock(watch.mutex);
    if (signal == SIGCONT) {
      for (const std::function<void()>& action : watch.onContinue) action();
      continue;
    }
    if (watch.received != 0) continue;
    watch.received = signal;
    for (const std::function<void()>& action : watch.actions) action();
    if (watch.deferrals == 0) EndBy(signal);
  }
}

}  // namespace

// A signalfd read by a thread rather than a handler: a handler could do almost nothing safely,
// while the watcher may take locks, tell workers to stop and put the terminal back in order.
void WatchInterrupts() {
  sigset_t signals, previous;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCONT}) {
    // A blocked signal is queued even when ignored, so an ignored one must not be blocked.
    if (!IsIgnored(signal)) sigaddset(&signals, signal);
  }
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  Watch& watch = TheWatch();
  watch.signalFd = UniqueFd(signalfd(-1, &signals, SFD_CLOEXEC));
  try {
    if (watch.signalFd.Valid()) {
      std::thread([&watch] { Watcher(watch); }).detach();
      return;
    }
  } catch (const std::system_error&) {
    // No thread to be had: nobody would read the signals, so they must keep their effect.
  }
  watch.signalFd.Reset();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

OnInterrupt::OnInterrupt(std::function<void()> action) {
  Watch& watch = TheWatch();
  std::lock_guard lock(watch.mutex);
  if (watch.received != 0) {
    action();
    return;
  }
  watch.actions.push_front(std::move(action));
  entry_ = watch.actions.begin();
  registered_ = true;
}

OnInterrupt::~OnInterrupt() {
  if (!registered_) return;
  Watch& watch = TheWatch();
  std::lock_guard lock(watch.mutex);
  watch.actions.erase(entry_);
}

OnContinue::OnContinue(std::function<void()> action) {
  Watch& watch = TheWatch();
  std::lock_guard lock(watch.mutex);
  watch.onContinue.push_front(std::move(action));
  entry_ = watch.onContinue.begin();
}

OnContinue::~OnContinue() {
  Watch& watch = TheWatch();
  std::lock_guard lock(watch.mutex);
  watch.onContinue.erase(entry_);
}

InterruptsDeferred::InterruptsDeferred() {
  Watch& watch = TheWatch();
  std::lock_guard lock(watch.mutex);
  ++watch.deferrals;
}

InterruptsDeferred::~InterruptsDeferred() {
  Watch& watch = TheWatch();
  std::lock_guard lock(watch.mutex);
  if (--watch.deferrals == 0 && watch.received != 0) EndBy(watch.received);
}

bool Interrupted() {
  Watch& watch = TheWatch();
  std::lock_guard lock(watch.mutex);
  return watch.received != 0;
}

}  // namespace zipdrop
