#include "platform/windows/shell_process_reference.h"

#include <shlobj.h>

namespace zipdrop {

namespace {

void RunWaitingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

// IAgileObject tells COM that the counter may be used from any apartment as it is, so a reference
// handed to another thread is never a proxy whose release would have to come back through ours.
HRESULT ShellProcessReference::Counter::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IAgileObject)) return E_NOINTERFACE;
  *object = static_cast<IUnknown*>(this);
  AddRef();
  return S_OK;
}

ULONG ShellProcessReference::Counter::AddRef() { return ++count_; }

// Every release wakes the waiting thread to look at the count again. The message carries
// nothing; its only use is to end MsgWaitForMultipleObjectsEx. The thread is read before the
// count falls: the release that ends the owner's last wait may let it destroy the counter at once.
ULONG ShellProcessReference::Counter::Release() {
  DWORD waitingThread = waitingThread_;
  ULONG left = --count_;
  PostThreadMessageW(waitingThread, WM_NULL, 0, 0);
  return left;
}

ShellProcessReference::ShellProcessReference() {
  // A thread gets its message queue on its first message call; without one, the wake-up that a
  // release posts would be lost and the wait would never end.
  MSG unused;
  PeekMessageW(&unused, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  SHSetInstanceExplorer(&counter_);
  // Whatever the registration itself holds counts as ours, not as the shell's work.
  ownCount_ = counter_.Count();
}

// By now the run has released every object of the shell, and the first wait covers the references
// that those objects held. A shell thread may take a reference between the first wait and the
// unregistering; the second wait keeps one taken by then from being released into a counter that
// no longer exists. It narrows that race without closing it: a thread that read the registration
// before it went but takes its reference only after the second wait has ended is not seen, and
// nothing the shell offers would let us see it.
ShellProcessReference::~ShellProcessReference() {
  WaitForShell();
  SHSetInstanceExplorer(nullptr);
  WaitForShell();
}

void ShellProcessReference::WaitForShell(ULONG held) {
  while (counter_.Count() > ownCount_ + held) {
    MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    RunWaitingMessages();
  }
}

}  // namespace zipdrop
