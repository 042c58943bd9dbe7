// The program is built on Debian 12 and must also start on Ubuntu 22.04, whose C library (2.35)
// has no arc4random (added in 2.36). The C++ runtime linked into the program refers to it from
// std::random_device, which zipdrop never uses; defined here, the program asks the C library for
// nothing newer than 2.35. Linked only where the C++ runtime is.
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

extern "C" std::uint32_t arc4random() noexcept {
  std::uint32_t value = 0;
  // The C library's own aborts as well when the kernel gives no randomness.
  while (getrandom(&value, sizeof value, 0) != sizeof value) {
    if (errno != EINTR) std::abort();
  }
  return value;
}
