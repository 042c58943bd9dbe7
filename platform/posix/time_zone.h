// The time zone that the extractor's DOS times need, pinned by main before any thread exists.
#pragma once

namespace zipdrop {

/// Sets TZ to the system's default zone when it is unset. DOS times are local times, turned into
/// time_t with mktime; with TZ unset, glibc's mktime checks /etc/localtime again on every call,
/// inside a lock that every thread shares, and the workers spent more time waiting on each other
/// there than writing. Naming the same zone lets glibc load it once. The environment is the
/// whole process's, and setenv is not thread-safe: main calls this before any thread exists.
void PinDefaultTimeZone();

/// The environment entry that PinDefaultTimeZone added, or nullptr when it added none. Programs
/// started later must not get it: they get the environment the program was given.
const char* PinnedTimeZoneEntry();

}  // namespace zipdrop
