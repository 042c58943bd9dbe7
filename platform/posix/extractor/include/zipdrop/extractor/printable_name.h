// Names as the user may be shown them. The report names its skipped entries this way, and the
// platform prints the names it shows (the archive's, an entry's in a question) the same way.
#pragma once

#include <string>
#include <string_view>

namespace zipdrop {

/// The name as valid UTF-8 that is safe to show on a terminal or in a window: a name that is not
/// UTF-8 is read as CP932 when it decodes as that, else each stray byte becomes U+FFFD; C0
/// controls and DEL are escaped as \xNN, C1 and bidirectional controls as \uNNNN. Only for
/// showing: the name that opens the file is never this.
std::string PrintableName(std::string_view name);

}  // namespace zipdrop
