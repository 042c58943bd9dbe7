// How many CPUs the extraction may use: the process's affinity mask, which `taskset` and
// container limits narrow, rather than the machine's count, so that a run pinned to one CPU
// neither starts a second worker nor decodes one entry on threads that would only take turns.
#pragma once

#include <cstddef>

namespace zipdrop {

/// The number of CPUs this process may run on, at least 1.
std::size_t UsableCores();

}  // namespace zipdrop
