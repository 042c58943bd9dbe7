// The reference to our process that the shell holds while it finishes work on threads of its own.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace zipdrop {

/// Registered with SHSetInstanceExplorer for as long as it lives. The shell may go on copying on
/// a thread of its own after CopyHere has returned, with no notice to the caller when it is done;
/// it keeps its host alive by holding a reference to this object. WaitForShell runs the thread's
/// messages, which the shell's threads may need answered, until every such reference is gone.
/// Make it on the thread that initialised COM, right after COM starts, and destroy it there
/// before COM ends: the destructor waits too.
class ShellProcessReference {
 public:
  ShellProcessReference();
  ShellProcessReference(const ShellProcessReference&) = delete;
  ShellProcessReference& operator=(const ShellProcessReference&) = delete;
  ~ShellProcessReference();

  /// Returns when the shell holds no reference to the process any more. There is deliberately no
  /// time limit: the shell may be waiting for the user to answer its replace or password prompt.
  void WaitForShell();

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
