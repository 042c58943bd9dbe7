// Windows command lines, split into arguments the way a Windows program would see them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zipdrop {

/// Splits a Windows command line into the program name and its arguments.
///
/// The program name follows CommandLineToArgvW: it runs to the first blank or tab, or, when it
/// starts with a double quote, to the next double quote; backslashes are ordinary characters in
/// it, as they are in any Windows path. The arguments follow the rules of the Microsoft C
/// runtime since 2008 (the ones CommandLineToArgvW documents, plus the doubled quote):
///  - blanks and tabs outside double quotes separate arguments;
///  - a double quote starts or ends a quoted part, and "" inside a quoted part is one literal ";
///  - 2n backslashes before a double quote give n backslashes and the quote keeps its meaning;
///    2n+1 backslashes before one give n backslashes and a literal ";
///  - backslashes anywhere else are literal.
/// Blanks before the program name are skipped. An empty or blank line gives no arguments.
std::vector<std::u16string> SplitCommandLine(std::u16string_view line);

}  // namespace zipdrop
