#include "platform/posix/posix_error.h"

#include <cstring>

namespace zipdrop {

std::string DescribeSystemError(int error) {
  // strerror is not thread-safe, and strerror_r comes in two incompatible flavours; the
  // overloads below accept whichever one the C library declares.
  char buffer[256] = {};
  struct Pick {
    static const char* From(int result, const char* buffer) { return result == 0 ? buffer : ""; }
    static const char* From(const char* result, const char*) { return result; }
  };
  const char* text = Pick::From(strerror_r(error, buffer, sizeof buffer), buffer);
  if (text == nullptr || *text == '\0') return "error " + std::to_string(error);
  return text;
}

void ThrowSystemError(const std::string& action, int error) {
  throw PlatformError(action + ": " + DescribeSystemError(error));
}

}  // namespace zipdrop
