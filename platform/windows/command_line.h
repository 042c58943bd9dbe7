// Splitting a Win32 command line into the program's name and the text that follows it.
#pragma once

#include <string>
#include <string_view>

namespace zipdrop {

struct CommandLineParts {
  /// The program as named on the line, without its quotes.
  std::wstring program;
  /// Everything after the name and the blanks and tabs that follow it, verbatim.
  std::wstring_view arguments;
};

/// A line that starts with the running program's own path, unquoted and followed by a blank, a
/// tab or nothing, is split after that path: CreateProcess(path, NULL) writes it that way, blanks
/// and all. Any other line follows the C runtime's rule for the program's name: it runs to the
/// first blank or tab outside quotes, and each quote, wherever it stands, turns quoting on or off
/// and is dropped. The arguments are not split further, because the run wants them exactly as the
/// shell wrote them.
CommandLineParts SplitCommandLine(std::wstring_view commandLine,
                                  std::wstring_view modulePath = {});

/// Whether two texts are equal, letter case aside, as the file system compares names.
bool SameIgnoringCase(std::wstring_view a, std::wstring_view b);

}  // namespace zipdrop
