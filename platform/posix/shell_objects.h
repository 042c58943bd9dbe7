// Our stand-ins for the two automation classes the logic uses: "Shell.Application" (with its
// folder and item-collection objects) and "scripting.filesystemobject".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform_services.h"
#include "zipdrop/extractor/clashes.h"

namespace zipdrop {

/// What a member call gave, and how a copy it made (or an archive it opened) went, as far as the
/// program's exit status tells it: 0 when every entry was extracted or nothing was copied, 1 when
/// some were not, 2 when an archive was refused or could not be read at all.
struct ShellResult {
  ShellResult(Value result, int status = 0) : value(std::move(result)), copyStatus(status) {}
  Value value;
  int copyStatus;
};

/// A copy that failed outright (status 2: no archive to copy, no thread or memory to be had) or
/// was cancelled by the user (status 1).
class CopyFailed : public PlatformError {
 public:
  CopyFailed(const std::string& what, int copyStatus) : PlatformError(what), status(copyStatus) {}
  int status;
};

/// A new object of the class registered under progId (matched without regard to case). Throws
/// PlatformError for any other ProgID.
ObjectRef CreateShellObject(const std::u16string& progId);

/// The files that no answer about clashes replaces: the running program (at `program`, as
/// /proc names it), its launcher and the launcher's icon beside it. Without the program's path
/// they cannot be identified, and every file directly in the destination is kept instead: the
/// archive is extracted into the program's own folder, where they are.
NeverReplaced ProgramFiles(const std::optional<std::string>& program);

/// Calls a member of an object made by CreateShellObject or returned by one of its members.
/// Member names are matched without regard to case. Throws PlatformError for a missing object,
/// an object from elsewhere, an unknown member, or arguments of the wrong number or kind; and
/// CopyFailed for a copy that failed or was cancelled.
ShellResult CallShellMember(const ObjectRef& object, const std::u16string& member,
                            const std::vector<Value>& arguments);

}  // namespace zipdrop
