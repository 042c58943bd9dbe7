#include "platform/posix/display_check.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/posix/unique_fd.h"

namespace zipdrop {

namespace {

// A remote display over a slow link still answers within this; one that does not is as good as
// gone for a dialog.
constexpr int kConnectTimeoutMs = 1000;

// Finishes a non-blocking connect: true once the other side has accepted. A full backlog
// (EAGAIN) still means a server is there.
bool Connected(int fd, int result) {
  if (result == 0 || errno == EAGAIN) return true;
  if (errno != EINPROGRESS) return false;
  pollfd waiting{fd, POLLOUT, 0};
  if (poll(&waiting, 1, kConnectTimeoutMs) != 1) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// Connects to a local socket; abstract names start with '@'.
bool LocalSocketAnswers(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  if (path[0] == '@') address.sun_path[0] = '\0';
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return false;
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  return Connected(fd.Get(), connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), length));
}

bool TcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool answered = false;
  for (addrinfo* a = found; a != nullptr && !answered; a = a->ai_next) {
    UniqueFd fd(socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    answered = fd.Valid() && Connected(fd.Get(), connect(fd.Get(), a->ai_addr, a->ai_addrlen));
  }
  freeaddrinfo(found);
  return answered;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::optional<XDisplayAddress> ParseXDisplay(const std::string& display) {
  std::size_t colon = display.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  std::string host = display.substr(0, colon);
  const char* first = display.data() + colon + 1;
  const char* last = display.data() + display.size();
  int number = -1;
  auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc() || end == first || number < 0) return std::nullopt;
  // What follows the number may only be the screen, ".0" and the like.
  if (end != last && *end != '.') return std::nullopt;
  if (host == "unix") host.clear();
  return XDisplayAddress{host, number};
}

bool XDisplayAnswers(const std::string& display, const std::string& socketFolder) {
  std::optional<XDisplayAddress> address = ParseXDisplay(display);
  if (!address) return false;
  if (!address->host.empty()) return TcpAnswers(address->host, 6000 + address->number);
  std::string path = socketFolder + "/X" + std::to_string(address->number);
  return LocalSocketAnswers("@" + path) || LocalSocketAnswers(path);
}

bool WaylandDisplayAnswers(const std::string& name, const std::string& runtimeFolder) {
  if (name.empty()) return false;
  if (name[0] == '/') return LocalSocketAnswers(name);
  return !runtimeFolder.empty() && LocalSocketAnswers(runtimeFolder + "/" + name);
}

bool DisplayAnswers() {
  std::string wayland = Environment("WAYLAND_DISPLAY");
  if (WaylandDisplayAnswers(wayland, Environment("XDG_RUNTIME_DIR"))) return true;
  std::string x = Environment("DISPLAY");
  return !x.empty() && XDisplayAnswers(x);
}

}  // namespace zipdrop
