// Ending an extraction cleanly when the user interrupts it.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/posix/unique_fd.h"

namespace zipdrop {

/// While it lives, SIGINT, SIGTERM and SIGHUP (the terminal closed) do not end the process at
/// once: they are blocked on the thread that made it, and so on every thread that thread starts
/// afterwards, and a watcher thread calls onSignal when the first of them arrives. The extraction
/// then stops its workers, whose temporary files are removed as they unwind, and EndIfInterrupted
/// ends the process by the same signal, so that its parent sees the usual 128 + signal. A signal
/// that was ignored when the watch began (SIGHUP under nohup) stays ignored.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> onSignal);
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;
  ~InterruptWatch();

  /// Ends the process by the signal that arrived; returns when none did.
  void EndIfInterrupted();

 private:
  void Watch();
  void Finish();

  std::function<void()> onSignal_;
  sigset_t signals_;
  sigset_t previousMask_;
  UniqueFd signalFd_;
  UniqueFd wakeFd_;
  std::atomic<int> received_{0};
  std::thread watcher_;
};

}  // namespace zipdrop
