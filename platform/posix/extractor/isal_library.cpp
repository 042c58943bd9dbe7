#include "platform/posix/extractor/isal_library.h"

#include <dlfcn.h>

#include <atomic>
#include <memory>
#include <optional>

namespace zipdrop {

namespace {

std::atomic<bool> forceMissing{false};

#ifdef ZIPDROP_ISAL_LINKED
// The release links ISA-L's static library, built from Debian's source package: the program then
// never looks for the system's, which most desktops do not install.
std::optional<IsalInflate> Load() { return IsalInflate{isal_inflate_init, isal_inflate}; }
#else
std::optional<IsalInflate> Load() {
  // A name without a slash is looked for only where the system keeps its libraries (and in
  // LD_LIBRARY_PATH), never beside the program, where an extracted archive could have put one.
  std::unique_ptr<void, int (*)(void*)> library(dlopen("libisal.so.2", RTLD_NOW | RTLD_LOCAL),
                                                dlclose);
  if (!library) return std::nullopt;
  IsalInflate functions{
      reinterpret_cast<void (*)(inflate_state*)>(dlsym(library.get(), "isal_inflate_init")),
      reinterpret_cast<int (*)(inflate_state*)>(dlsym(library.get(), "isal_inflate")),
      reinterpret_cast<int (*)(inflate_state*, std::uint8_t*, std::uint32_t)>(
          dlsym(library.get(), "isal_inflate_set_dict"))};
  if (functions.init == nullptr || functions.inflate == nullptr ||
      functions.setDictionary == nullptr) {
    return std::nullopt;
  }
  // The library stays loaded for the life of the process, as a linked one would: every run's
  // decoders use it, and unloading it at exit could pull it from under a thread still ending.
  library.release();
  return functions;
}
#endif

}  // namespace

const IsalInflate* LoadIsalInflate() {
  static const std::optional<IsalInflate> loaded = Load();
  if (forceMissing.load(std::memory_order_relaxed) || !loaded) return nullptr;
  return &*loaded;
}

void ForceIsalMissing(bool missing) { forceMissing.store(missing, std::memory_order_relaxed); }

}  // namespace zipdrop
