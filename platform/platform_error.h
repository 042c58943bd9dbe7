// The one error type of the platform layer, in a header of its own: many files throw or catch it
// and need nothing else of the seam.
#pragma once

#include <stdexcept>

namespace zipdrop {

/// Any failure of a platform operation. Platform error codes (errno, HRESULT, GetLastError)
/// are translated into this one type at the boundary, with a readable message.
class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace zipdrop
