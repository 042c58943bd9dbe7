#include "platform/posix/process_setup.h"

#include <signal.h>
#include <sys/prctl.h>

#include "platform/posix/interrupts.h"
#include "platform/posix/time_zone.h"

namespace zipdrop {

void PrepareProcess() {
  // A write to a closed pipe (a standard error read by a program that has gone) and a write past
  // the file-size limit must fail as writes, the second one skipping its entry, rather than end
  // the run before its clean-up, report and opener. Programs we start get both back at default.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // A password may be held in memory, and a core dump would write it to disk for anyone who can
  // read the dump; no one can attach a debugger to read it either.
  prctl(PR_SET_DUMPABLE, 0);
  PinDefaultTimeZone();
  // Last, so that the watcher is the first thread and holds the interrupts back like all others.
  WatchInterrupts();
}

}  // namespace zipdrop
