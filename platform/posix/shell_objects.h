// Our stand-ins for the two automation classes the logic uses: "Shell.Application" (with its
// folder and item-collection objects) and "scripting.filesystemobject".
#pragma once

#include <string>
#include <vector>

#include "platform/platform_services.h"

namespace zipdrop {

/// A new object of the class registered under progId (matched without regard to case). Throws
/// PlatformError for any other ProgID.
ObjectRef CreateShellObject(const std::u16string& progId);

/// Calls a member of an object made by CreateShellObject or returned by one of its members.
/// Member names are matched without regard to case. Throws PlatformError for a missing object,
/// an object from elsewhere, an unknown member, or arguments of the wrong number or kind.
Value CallShellMember(const ObjectRef& object, const std::u16string& member,
                      const std::vector<Value>& arguments);

}  // namespace zipdrop
