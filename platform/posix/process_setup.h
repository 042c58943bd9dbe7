// What holds for the whole process: settled once, by main, before any thread exists.
#pragma once

namespace zipdrop {

/// Ignores SIGPIPE and SIGXFSZ, keeps the process out of core dumps, pins the time zone and
/// starts the watcher of interrupts (WatchInterrupts). Every thread started afterwards inherits
/// the signal mask, and no component has to change process-wide state behind the others' backs.
void PrepareProcess();

}  // namespace zipdrop
