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
  /// A child we wait for; only its standard input and output go to /dev/null, its error
  /// messages still reach ours.
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

/// Starts program as SpawnProgram does in kAttached mode, but with outputFd as its standard
/// output: for a program whose answer is read from it.
pid_t SpawnProgramWriting(const std::string& program, const std::vector<std::string>& arguments,
                          int outputFd);

/// Waits for the child to end; its exit status, or -1 when a signal ended it. An interrupt that
/// arrives meanwhile ends the child with SIGTERM.
int WaitForExit(pid_t child);

}  // namespace zipdrop
