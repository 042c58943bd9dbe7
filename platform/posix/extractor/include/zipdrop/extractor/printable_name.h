// Names as the user may be shown them. The report names its skipped entries this way, and the
// platform prints the names it shows (the archive's, an entry's in a question) the same way.
#pragma once

#include <string>
#include <string_view>

namespace zipdrop {

/// The name with control characters escaped as \xNN, safe to print on a terminal.
std::string PrintableName(std::string_view name);

}  // namespace zipdrop
