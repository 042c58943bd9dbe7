// Our stand-ins for the two automation classes the logic uses: "Shell.Application" (with its
// folder and item-collection objects) and "scripting.filesystemobject".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform_services.h"
#include "zipdrop/extractor/clashes.h"

namespace zipdrop {

/// How the copies went, as far as the program's exit status tells it: 0 when every entry was
/// extracted, 1 when some were not, 2 when an archive was refused or could not be read at all, or
/// the copy could not be made (no archive to copy, no thread or memory to be had).
/// Only ever raised, so one bad step is not hidden by a later good one.
class CopyStatus {
 public:
  void Raise(int status) { value_ = status > value_ ? status : value_; }
  int Value() const { return value_; }

 private:
  int value_ = 0;
};

/// A new object of the class registered under progId (matched without regard to case). Throws
/// PlatformError for any other ProgID. The objects note their copies in status when one is given;
/// it must outlive them.
ObjectRef CreateShellObject(const std::u16string& progId, CopyStatus* status = nullptr);

/// The files that no answer about clashes replaces: the running program (at `program`, as
/// /proc names it), its launcher and the launcher's icon beside it. Without the program's path
/// they cannot be identified, and every file directly in the destination is kept instead: the
/// archive is extracted into the program's own folder, where they are.
NeverReplaced ProgramFiles(const std::optional<std::string>& program);

/// Calls a member of an object made by CreateShellObject or returned by one of its members.
/// Member names are matched without regard to case. Throws PlatformError for a missing object,
/// an object from elsewhere, an unknown member, or arguments of the wrong number or kind.
Value CallShellMember(const ObjectRef& object, const std::u16string& member,
                      const std::vector<Value>& arguments);

}  // namespace zipdrop
