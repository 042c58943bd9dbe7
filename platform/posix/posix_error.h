// The one place where errno becomes a PlatformError.
#pragma once

#include <cerrno>
#include <string>

#include "platform/platform_error.h"

namespace zipdrop {

/// Throws PlatformError with "<action>: <the system's description of error>".
[[noreturn]] void ThrowSystemError(const std::string& action, int error = errno);

/// The system's description of an errno value, e.g. "Permission denied".
std::string DescribeSystemError(int error);

}  // namespace zipdrop
