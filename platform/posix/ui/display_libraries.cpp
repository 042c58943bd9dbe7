#include "platform/posix/ui/display_libraries.h"

#include <dlfcn.h>

#include <optional>

namespace zipdrop {

namespace {

// A library by a name without a slash is looked for only where the system keeps its libraries,
// never beside the program, where an extracted archive could have put one. It stays loaded for
// the life of the process, as a linked one would.
void* Open(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

template <typename Function>
bool Find(void* library, const char* name, Function& function) {
  function = library ? reinterpret_cast<Function>(dlsym(library, name)) : nullptr;
  return function != nullptr;
}

std::optional<XLibraries> LoadX() {
  void* xcb = Open("libxcb.so.1");
  void* xau = Open("libXau.so.6");
  XLibraries x{};
  if (Find(xcb, "xcb_connect_to_fd", x.connectToFd) &&
      Find(xcb, "xcb_connection_has_error", x.connectionHasError) &&
      Find(xcb, "xcb_disconnect", x.disconnect) && Find(xau, "XauReadAuth", x.readAuth) &&
      Find(xau, "XauDisposeAuth", x.disposeAuth)) {
    return x;
  }
  return std::nullopt;
}

std::optional<WaylandLibrary> LoadWayland() {
  void* client = Open("libwayland-client.so.0");
  WaylandLibrary wayland{};
  if (Find(client, "wl_display_connect_to_fd", wayland.connectToFd) &&
      Find(client, "wl_display_roundtrip", wayland.roundtrip) &&
      Find(client, "wl_display_disconnect", wayland.disconnect)) {
    return wayland;
  }
  return std::nullopt;
}

}  // namespace

const XLibraries* LoadXLibraries() {
  static const std::optional<XLibraries> loaded = LoadX();
  return loaded ? &*loaded : nullptr;
}

const WaylandLibrary* LoadWaylandLibrary() {
  static const std::optional<WaylandLibrary> loaded = LoadWayland();
  return loaded ? &*loaded : nullptr;
}

}  // namespace zipdrop
