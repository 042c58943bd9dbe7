#include "app/start_up.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/process_setup.h"

int main(int argc, char** argv) {
  // The signal mask, the time zone and the rest that holds for the whole process are set before
  // any thread exists, so that every thread started later inherits them.
  zipdrop::PrepareProcess();
  zipdrop::PosixPlatform platform(argc, argv);
  zipdrop::RunOutcome outcome = zipdrop::StartUp(platform);
  // A rejected name ends as a refused archive does; otherwise the copies made tell the status.
  return outcome == zipdrop::RunOutcome::kNameRejected ? 2 : platform.CopyExitStatus();
}
