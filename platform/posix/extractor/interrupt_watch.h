// Ending work cleanly when the user interrupts it.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/posix/unique_fd.h"

namespace zipdrop {

/// While it lives, SIGINT, SIGTERM and SIGHUP (the terminal closed) are held back on the thread
/// that made it, and so on every thread that thread starts afterwards, to be read from Fd()
/// instead of ending the process at once. A signal that was ignored when the hold began (SIGHUP
/// under nohup) stays ignored. Where no descriptor can be had, the signals keep their effect.
class HeldInterrupts {
 public:
  HeldInterrupts();
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;
  ~HeldInterrupts();

  /// A descriptor that becomes readable when a signal arrives; -1 when the signals are not held.
  int Fd() const { return signalFd_.Get(); }
  /// The signal that arrived, or 0 when none could be read.
  int Read();

  /// Ends the process by the signal, as if it had never been held back, so that its parent sees
  /// the usual 128 + signal.
  [[noreturn]] static void EndBy(int signal);

 private:
  sigset_t signals_;
  sigset_t previousMask_;
  UniqueFd signalFd_;
};

/// Holds the interrupts back while an extraction runs, and calls onSignal from a watcher thread
/// when the first one arrives; the extraction then stops its workers, whose temporary files are
/// removed as they unwind, and EndIfInterrupted ends the process by the same signal.
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
  HeldInterrupts held_;
  UniqueFd wakeFd_;
  std::atomic<int> received_{0};
  std::thread watcher_;
};

}  // namespace zipdrop
