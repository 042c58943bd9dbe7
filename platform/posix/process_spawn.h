// Starting other programs directly, never through a shell.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zipdrop {

enum class SpawnMode {
  /// In its own session with every standard stream on /dev/null: the program outlives us and
  /// neither reads our input nor writes into the terminal we were started from.
  kDetached,
  /// A child we wait for (a dialog program); only its standard input and output go to
  /// /dev/null, its error messages still reach ours. It runs in the Japanese locale when one is
  /// installed, so that its buttons speak the language of its text.
  kAttached,
};

/// Starts program (a path, used as given) with arguments as its argv (argv[0] included) and the
/// current environment, less the TZ that main pinned for the extractor (PinDefaultTimeZone).
/// Returns the process id; throws PlatformError when it cannot be started.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& arguments,
                   SpawnMode mode);

/// Starts program as SpawnProgram does in kAttached mode, but with inputFd as its standard input:
/// for a program that is fed what to show while it runs.
pid_t SpawnProgramReading(const std::string& program, const std::vector<std::string>& arguments,
                          int inputFd);

/// The descriptors a child's standard streams are joined to; where none is given (-1), standard
/// input and output are /dev/null and standard error is ours.
struct ChildStreams {
  int input = -1;
  int output = -1;
  int error = -1;
};

/// Starts program as SpawnProgram does in kAttached mode, but with its standard streams joined as
/// streams says: for a dialog program that is handed a text, and whose answer is read.
pid_t SpawnProgramWith(const std::string& program, const std::vector<std::string>& arguments,
                       const ChildStreams& streams);

/// Waits for the child to end; its exit status, or -1 when a signal ended it. An interrupt that
/// arrives meanwhile ends the child with SIGTERM.
int WaitForExit(pid_t child);

}  // namespace zipdrop
