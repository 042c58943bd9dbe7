// The reference to our process that the shell holds while it finishes work on threads of its own.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace zipdrop {

/// Registered with SHSetInstanceExplorer for as long as it lives. The shell may go on copying on
/// a thread of its own after CopyHere has returned, with no notice to the caller when it is done;
/// it keeps its host alive by holding a reference to this object. It may also hold one for as
/// long as an object it returned lives. WaitForShell runs the thread's messages, which the shell's
/// threads may need answered, until the shell holds no more references than it is told.
/// Make it on the thread that initialised COM, right after COM starts, and destroy it there
/// before COM ends: the destructor waits for every reference to go.
class ShellProcessReference {
 public:
  ShellProcessReference();
  ShellProcessReference(const ShellProcessReference&) = delete;
  ShellProcessReference& operator=(const ShellProcessReference&) = delete;
  ~ShellProcessReference();

  /// How many references to the process the shell holds now.
  ULONG Held() const { return counter_.Count() - ownCount_; }

  /// Returns when the shell holds no more than `held` references to the process. There is
  /// deliberately no time limit: the shell may be waiting for the user to answer its replace or
  /// password prompt.
  void WaitForShell(ULONG held = 0);

 private:
  // Free-threaded: the shell takes and drops its references on any thread.
  class Counter final : public IUnknown {
   public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    ULONG Count() const { return count_.load(); }

   private:
    std::atomic<ULONG> count_{1};  // Our own.
    const DWORD waitingThread_ = GetCurrentThreadId();
  };

  Counter counter_;
  ULONG ownCount_ = 0;
};

}  // namespace zipdrop
