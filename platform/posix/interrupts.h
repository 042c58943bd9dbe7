// Interrupts (Ctrl-C, Ctrl-\, kill, the terminal closing) read by one watcher thread, so that
// what the run has under way is put in order before the process ends by the signal.
#pragma once

#include <functional>
#include <list>

namespace zipdrop {

/// Holds SIGINT, SIGTERM, SIGHUP and SIGQUIT back on the calling thread, and so on every thread
/// it starts afterwards, and starts the one thread that reads them. SIGCONT is read there too; held
/// back, it still continues the process, as it must. A signal that was ignored at
/// start (SIGHUP under nohup) stays ignored. Must be called before any other thread exists, or a
/// thread started earlier would take the signals and end the process at once. Without the call,
/// or when the watcher cannot be started, the signals keep their usual effect.
void WatchInterrupts();

/// While it lives, action is run on the watcher's thread when an interrupt arrives (at once when
/// one has arrived already): it stops work, restores the terminal, ends a dialog. Actions run
/// newest first, one at a time; an action must not block.
class OnInterrupt {
 public:
  explicit OnInterrupt(std::function<void()> action);
  ~OnInterrupt();
  OnInterrupt(const OnInterrupt&) = delete;
  OnInterrupt& operator=(const OnInterrupt&) = delete;

 private:
  std::list<std::function<void()>>::iterator entry_;
  bool registered_ = false;
};

/// While it lives, action is run on the watcher's thread each time the process continues after it
/// was stopped (Ctrl-Z, then fg): the shell has set the terminal up for itself meanwhile, and a
/// prompt that had changed it changes it again. The action must not block.
class OnContinue {
 public:
  explicit OnContinue(std::function<void()> action);
  ~OnContinue();
  OnContinue(const OnContinue&) = delete;
  OnContinue& operator=(const OnContinue&) = delete;

 private:
  std::list<std::function<void()>>::iterator entry_;
};

/// While one lives, an interrupt runs the actions but does not end the process at once, so that
/// the work can unwind first (the workers remove their temporary files). The last one to go ends
/// the process by the signal if an interrupt arrived meanwhile, so that its parent sees the usual
/// 128 + signal.
class InterruptsDeferred {
 public:
  InterruptsDeferred();
  ~InterruptsDeferred();
  InterruptsDeferred(const InterruptsDeferred&) = delete;
  InterruptsDeferred& operator=(const InterruptsDeferred&) = delete;
};

/// Whether an interrupt has arrived; the process is then about to end.
bool Interrupted();

}  // namespace zipdrop
