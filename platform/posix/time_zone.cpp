#include "platform/posix/time_zone.h"

#include <atomic>
#include <cstdlib>

namespace zipdrop {

namespace {

constexpr const char* kPinnedEntry = "TZ=:/etc/localtime";
std::atomic<bool> pinned{false};

}  // namespace

void PinDefaultTimeZone() {
  if (std::getenv("TZ") != nullptr) return;
  if (setenv("TZ", kPinnedEntry + 3, 0) == 0) pinned = true;
}

const char* PinnedTimeZoneEntry() { return pinned ? kPinnedEntry : nullptr; }

}  // namespace zipdrop
