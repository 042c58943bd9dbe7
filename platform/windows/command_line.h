// Splitting a Win32 command line into the program's name and the text that follows it.
#pragma once

#include <string_view>

namespace zipdrop {

struct CommandLineParts {
  /// The program as named on the line, without the quotes around it.
  std::wstring_view program;
  /// Everything after the name and the blanks and tabs that follow it, verbatim.
  std::wstring_view arguments;
};

/// Follows the rule the C runtime applies to the program's name: a name that starts with a quote
/// runs to the next quote, any other name runs to the first blank or tab. The arguments are not
/// split further, because the run wants them exactly as the shell wrote them.
CommandLineParts SplitCommandLine(std::wstring_view commandLine);

}  // namespace zipdrop
