// The X and Wayland client libraries, loaded at run time rather than linked: the released program
// must start, and say what it has to say on standard error, on a machine without a desktop, where
// they may be missing. A machine whose dialog programs can show anything has them, since those
// programs need them too.
#pragma once

#include <X11/Xauth.h>
#include <wayland-client-core.h>
#include <xcb/xcb.h>

namespace zipdrop {

/// What the X connection setup needs of libxcb and libXau.
struct XLibraries {
  decltype(&xcb_connect_to_fd) connectToFd;
  decltype(&xcb_connection_has_error) connectionHasError;
  decltype(&xcb_disconnect) disconnect;
  decltype(&XauReadAuth) readAuth;
  decltype(&XauDisposeAuth) disposeAuth;
};

/// What a Wayland round trip needs of libwayland-client.
struct WaylandLibrary {
  decltype(&wl_display_connect_to_fd) connectToFd;
  decltype(&wl_display_roundtrip) roundtrip;
  decltype(&wl_display_disconnect) disconnect;
};

/// The libraries when the system has them all, else nullptr. Loaded once per process, by the
/// names the system's own libraries go by, never from beside the program.
const XLibraries* LoadXLibraries();
const WaylandLibrary* LoadWaylandLibrary();

}  // namespace zipdrop
