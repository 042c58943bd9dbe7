#include "platform/posix/interrupt_watch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>

namespace zipdrop {

namespace {

bool IsIgnored(int signal) {
  struct sigaction action {};
  return sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

}  // namespace

// A signalfd read by a thread of our own, rather than a handler: the handler could do almost
// nothing safely, while the watcher may take locks and tell the workers to stop.
InterruptWatch::InterruptWatch(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  sigemptyset(&signals_);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A blocked signal is queued even when ignored, so an ignored one must not be blocked.
    if (!IsIgnored(signal)) sigaddset(&signals_, signal);
  }
  pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_);
  signalFd_ = UniqueFd(signalfd(-1, &signals_, SFD_CLOEXEC));
  wakeFd_ = UniqueFd(eventfd(0, EFD_CLOEXEC));
  if (signalFd_.Valid() && wakeFd_.Valid()) {
    watcher_ = std::thread([this] { Watch(); });
  } else {
    // Without a watcher the signals keep their usual effect.
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
  }
}

InterruptWatch::~InterruptWatch() { Finish(); }

void InterruptWatch::Watch() {
  pollfd fds[2] = {{signalFd_.Get(), POLLIN, 0}, {wakeFd_.Get(), POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    signalfd_siginfo info;
    if (read(signalFd_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      received_ = static_cast<int>(info.ssi_signo);
      onSignal_();
      return;
    }
  }
}

// Stops the watcher and gives the thread its signal mask back. A second signal that arrived in
// the meantime is still pending and takes its usual effect then.
void InterruptWatch::Finish() {
  if (!watcher_.joinable()) return;
  std::uint64_t one = 1;
  // An eventfd that is not full always takes the write.
  [[maybe_unused]] ssize_t written = write(wakeFd_.Get(), &one, sizeof one);
  watcher_.join();
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void InterruptWatch::EndIfInterrupted() {
  Finish();
  int signal = received_.load();
  if (signal == 0) return;
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

}  // namespace zipdrop
