#include "platform/posix/extractor/interrupt_watch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace zipdrop {

namespace {

bool IsIgnored(int signal) {
  struct sigaction action {};
  return sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

}  // namespace

// A signalfd rather than a handler: a handler could do almost nothing safely, while whoever reads
// the descriptor may take locks, tell workers to stop and put the terminal back in order.
HeldInterrupts::HeldInterrupts() {
  sigemptyset(&signals_);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A blocked signal is queued even when ignored, so an ignored one must not be blocked.
    if (!IsIgnored(signal)) sigaddset(&signals_, signal);
  }
  pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_);
  signalFd_ = UniqueFd(signalfd(-1, &signals_, SFD_CLOEXEC));
  if (!signalFd_.Valid()) pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

// A signal that arrived after the last Read is still pending and takes its usual effect now.
HeldInterrupts::~HeldInterrupts() {
  if (signalFd_.Valid()) pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

int HeldInterrupts::Read() {
  signalfd_siginfo info;
  if (read(signalFd_.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
  return static_cast<int>(info.ssi_signo);
}

void HeldInterrupts::EndBy(int signal) {
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

InterruptWatch::InterruptWatch(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)), wakeFd_(eventfd(0, EFD_CLOEXEC)) {
  // The watcher is started after the hold, so that it holds the signals back too.
  if (held_.Fd() >= 0 && wakeFd_.Valid()) watcher_ = std::thread([this] { Watch(); });
}

InterruptWatch::~InterruptWatch() { Finish(); }

void InterruptWatch::Watch() {
  pollfd fds[2] = {{held_.Fd(), POLLIN, 0}, {wakeFd_.Get(), POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (int signal = held_.Read()) {
      received_ = signal;
      onSignal_();
      return;
    }
  }
}

void InterruptWatch::Finish() {
  if (!watcher_.joinable()) return;
  std::uint64_t one = 1;
  // An eventfd that is not full always takes the write.
  [[maybe_unused]] ssize_t written = write(wakeFd_.Get(), &one, sizeof one);
  watcher_.join();
}

void InterruptWatch::EndIfInterrupted() {
  Finish();
  if (int signal = received_.load()) HeldInterrupts::EndBy(signal);
}

}  // namespace zipdrop
