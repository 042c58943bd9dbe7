// Whether a dialog can be shown: a display server must accept us, not merely be named or listen.
#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>

namespace zipdrop {

/// How long a display that took our connection is given to answer it. A machine at full load can
/// keep a live display from answering for seconds, and a dialog that never came would lose what
/// it was to ask; a person waits this long for a window before giving up on it.
inline constexpr std::chrono::milliseconds kDisplayAnswerLimit{30000};

/// Where local X servers keep their sockets.
inline constexpr char kXSocketFolder[] = "/tmp/.X11-unix";

/// Where an X display named by a DISPLAY value listens: a local socket when host is empty (or
/// "unix"), else TCP port 6000 + number on host.
struct XDisplayAddress {
  std::string host;
  int number = 0;
};

/// The address of an X display such as ":0", ":1.0", "unix:2" or "localhost:10.0"; nothing for a
/// value that names no display.
std::optional<XDisplayAddress> ParseXDisplay(const std::string& display);

/// Whether the X server at the display accepts a client within the limit: the connection setup
/// is made with the session's cookie (XAUTHORITY, else ~/.Xauthority) and must succeed. Local
/// displays are looked for as socketFolder/X<number>, and as the abstract socket of that name. A
/// stop requested or an interrupt meanwhile ends the wait at once, as a display that did not
/// answer.
bool XDisplayAnswers(const std::string& display, const std::string& socketFolder = kXSocketFolder,
                     std::stop_token stop = {},
                     std::chrono::milliseconds limit = kDisplayAnswerLimit);

/// Whether a Wayland compositor answers a round trip within the limit at the socket a
/// WAYLAND_DISPLAY value names: an absolute path, or a name inside runtimeFolder (XDG_RUNTIME_DIR).
bool WaylandDisplayAnswers(const std::string& name, const std::string& runtimeFolder,
                           std::stop_token stop = {},
                           std::chrono::milliseconds limit = kDisplayAnswerLimit);

/// Whether the display that DISPLAY or WAYLAND_DISPLAY names accepts us now. A display that is
/// gone (a variable left over from an ssh or tmux session) or that refuses us (no cookie after su
/// or sudo -u) makes a dialog program end with the status of a closed dialog, and one that never
/// answers makes it wait forever; this tells those apart from the user's answer beforehand. A
/// stop requested or an interrupt meanwhile ends the wait at once.
bool DisplayAnswers(std::stop_token stop = {});

}  // namespace zipdrop
