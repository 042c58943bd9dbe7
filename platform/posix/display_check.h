// Whether a dialog can be shown: a display server must answer, not merely be named.
#pragma once

#include <optional>
#include <string>

namespace zipdrop {

/// Where an X display named by a DISPLAY value listens: a local socket when host is empty (or
/// "unix"), else TCP port 6000 + number on host.
struct XDisplayAddress {
  std::string host;
  int number = 0;
};

/// The address of an X display such as ":0", ":1.0", "unix:2" or "localhost:10.0"; nothing for a
/// value that names no display.
std::optional<XDisplayAddress> ParseXDisplay(const std::string& display);

/// Whether an X server accepts a connection at the display; local displays are looked for as
/// socketFolder/X<number>, and as the abstract socket of that name.
bool XDisplayAnswers(const std::string& display, const std::string& socketFolder = "/tmp/.X11-unix");

/// Whether a Wayland compositor accepts a connection at the socket a WAYLAND_DISPLAY value names:
/// an absolute path, or a name inside runtimeFolder (XDG_RUNTIME_DIR).
bool WaylandDisplayAnswers(const std::string& name, const std::string& runtimeFolder);

/// Whether the display that DISPLAY or WAYLAND_DISPLAY names answers now. A variable left over
/// from an ssh or tmux session whose display is gone makes dialog programs fail the same way a
/// closed dialog does, so the message would vanish; this tells the two apart beforehand.
bool DisplayAnswers();

}  // namespace zipdrop
