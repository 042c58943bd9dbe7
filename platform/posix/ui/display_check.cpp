#include "platform/posix/ui/display_check.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/posix/fd_io.h"
#include "platform/posix/interrupts.h"
#include "platform/posix/ui/display_libraries.h"
#include "platform/posix/unique_fd.h"

namespace zipdrop {

namespace {

// A check that has not ended this long after its own limit is stuck outside the socket, in an
// authority file's open on a network home that has hung, say: it is given up on.
constexpr std::chrono::seconds kStuckCheckMargin{5};

// The largest authority file read: real ones hold a few entries of some dozen bytes each.
constexpr off_t kLargestAuthorityFile = 1 << 20;

// Finishes a non-blocking connect: true once the other side has taken the connection. A full
// backlog (EAGAIN) is a server that has stopped accepting.
bool Connected(int fd, int result, std::chrono::milliseconds limit) {
  if (result == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd waiting{fd, POLLOUT, 0};
  if (poll(&waiting, 1, static_cast<int>(limit.count())) != 1) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// A connection to a local socket; abstract names start with '@'. Invalid when nobody listens.
UniqueFd ConnectLocal(const std::string& path, std::chrono::milliseconds limit) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return {};
  std::memcpy(address.sun_path, path.data(), path.size());
  if (path[0] == '@') address.sun_path[0] = '\0';
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return {};
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  if (!Connected(fd.Get(), connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), length),
                 limit)) {
    return {};
  }
  return fd;
}

UniqueFd ConnectTcp(const std::string& host, int port, std::chrono::milliseconds limit) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return {};
  UniqueFd connected;
  for (addrinfo* a = found; a != nullptr && !connected.Valid(); a = a->ai_next) {
    UniqueFd fd(socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Valid() && Connected(fd.Get(), connect(fd.Get(), a->ai_addr, a->ai_addrlen), limit)) {
      connected = std::move(fd);
    }
  }
  freeaddrinfo(found);
  return connected;
}

// libxcb and libwayland wait for a server's answer without a time limit. This guard shuts the
// socket down once the limit has passed: the library's wait then ends as if the server had hung
// up, and the handshake fails. A stop requested by the caller (a progress display that is closing)
// or an interrupt shuts it down at once. The guard keeps a descriptor of its own for the socket,
// so that the library may close its descriptor whenever it likes.
//
// The handshakes are made in this process, on threads with a watcher thread, rather than in a
// forked child that is killed when it takes too long: the checks run while extraction threads
// are at work, and a child forked from a process with threads may only call async-signal-safe
// functions, which the libraries' allocations and locks are not.
class SocketDeadline {
 public:
  SocketDeadline(int fd, std::stop_token stop, std::chrono::milliseconds limit)
      : socket_(fcntl(fd, F_DUPFD_CLOEXEC, 0)),
        onStop_(stop, [this] { shutdown(socket_.Get(), SHUT_RDWR); }),
        onInterrupt_([this] { shutdown(socket_.Get(), SHUT_RDWR); }),
        watcher_([this, limit] {
          std::unique_lock lock(mutex_);
          if (!wake_.wait_for(lock, limit, [this] { return done_; })) {
            shutdown(socket_.Get(), SHUT_RDWR);
          }
        }) {}
  ~SocketDeadline() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    watcher_.join();
  }
  SocketDeadline(const SocketDeadline&) = delete;
  SocketDeadline& operator=(const SocketDeadline&) = delete;

 private:
  UniqueFd socket_;
  std::stop_callback<std::function<void()>> onStop_;
  OnInterrupt onInterrupt_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread watcher_;  // Last, so that it starts once everything it uses is ready.
};

struct XauthDisposal {
  void operator()(Xauth* auth) const { LoadXLibraries()->disposeAuth(auth); }
};
using XauthEntry = std::unique_ptr<Xauth, XauthDisposal>;

// The address under which an authority file lists the display at the other end of the socket,
// chosen as libxcb chooses it for its own connections: a local socket or the IPv4 or IPv6
// loopback address is listed under this host's name, any other peer under its address.
struct AuthorityAddress {
  unsigned short family = FamilyLocal;
  std::string address;
};

std::optional<AuthorityAddress> AuthorityAddressOf(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return std::nullopt;
  AuthorityAddress result;
  if (peer.ss_family == AF_INET6) {
    const in6_addr& ip = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    const char* bytes = reinterpret_cast<const char*>(ip.s6_addr);
    if (IN6_IS_ADDR_V4MAPPED(&ip)) {
      result = {XCB_FAMILY_INTERNET, std::string(bytes + 12, 4)};
    } else if (!IN6_IS_ADDR_LOOPBACK(&ip)) {
      result = {XCB_FAMILY_INTERNET_6, std::string(bytes, 16)};
    }
  } else if (peer.ss_family == AF_INET) {
    const in_addr& ip = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
    result = {XCB_FAMILY_INTERNET, std::string(reinterpret_cast<const char*>(&ip), 4)};
  }
  if (result.family == XCB_FAMILY_INTERNET && result.address == std::string("\x7f\0\0\x01", 4)) {
    result = {};
  }
  if (result.family != FamilyLocal) return result;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return std::nullopt;
  result.address = host;
  return result;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The session's authority file, XAUTHORITY else ~/.Xauthority, as libXau finds it, read whole.
// Only a regular file of a sane size is read, opened without waiting: a FIFO there would block
// the open for good, and /dev/zero would never end. Empty when there is none such.
std::string AuthorityFile() {
  std::string path = Environment("XAUTHORITY");
  if (path.empty() && !Environment("HOME").empty()) path = Environment("HOME") + "/.Xauthority";
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (!fd.Valid() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size > kLargestAuthorityFile) {
    return {};
  }
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  text.resize(ReadAt(fd.Get(), text.data(), text.size(), 0).count);
  return text;
}

bool Same(const char* bytes, unsigned short length, const std::string& wanted) {
  return std::string_view(bytes, length) == wanted;
}

// The session's cookie for the display: the first MIT-MAGIC-COOKIE-1 entry of the authority file
// for its address (or any address) and number (or any number), the one libXau's own search would
// pick. The file is read by us, under the check's bounds, and only its entries by libXau: its
// search opens the file itself, without either. Nothing when there is none, and the server may
// still accept us by other means (xhost).
XauthEntry FindCookie(const XLibraries& x, int fd, int displayNumber) {
  std::optional<AuthorityAddress> peer = AuthorityAddressOf(fd);
  std::string file = AuthorityFile();
  if (!peer || file.empty()) return nullptr;
  std::unique_ptr<FILE, int (*)(FILE*)> entries(fmemopen(file.data(), file.size(), "r"), fclose);
  if (!entries) return nullptr;
  std::string number = std::to_string(displayNumber);
  while (XauthEntry entry{x.readAuth(entries.get())}) {
    bool address =
        entry->family == FamilyWild || (entry->family == peer->family &&
                                        Same(entry->address, entry->address_length, peer->address));
    bool display = entry->number_length == 0 || Same(entry->number, entry->number_length, number);
    if (address && display && Same(entry->name, entry->name_length, "MIT-MAGIC-COOKIE-1")) {
      return entry;
    }
  }
  return nullptr;
}

struct XcbDisconnection {
  void operator()(xcb_connection_t* connection) const { LoadXLibraries()->disconnect(connection); }
};

// Whether the X server at the other end of the socket accepts us: the connection setup, made
// with the session's cookie, must be answered with success in time.
bool XServerAccepts(UniqueFd socket, int displayNumber, std::stop_token stop,
                    std::chrono::milliseconds limit) {
  const XLibraries* x = LoadXLibraries();
  if (x == nullptr) return false;
  XauthEntry cookie = FindCookie(*x, socket.Get(), displayNumber);
  xcb_auth_info_t auth{};
  if (cookie) {
    auth = {cookie->name_length, cookie->name, cookie->data_length, cookie->data};
  }
  SocketDeadline deadline(socket.Get(), stop, limit);
  std::unique_ptr<xcb_connection_t, XcbDisconnection> connection(
      x->connectToFd(socket.Release(), cookie ? &auth : nullptr));
  return x->connectionHasError(connection.get()) == 0;
}

struct WaylandDisconnection {
  void operator()(wl_display* display) const { LoadWaylandLibrary()->disconnect(display); }
};

// Whether the compositor at the other end of the socket answers a round trip in time: a sync
// request, which every compositor must answer with its done event.
bool CompositorAnswers(UniqueFd socket, std::stop_token stop, std::chrono::milliseconds limit) {
  const WaylandLibrary* wayland = LoadWaylandLibrary();
  if (wayland == nullptr) return false;
  SocketDeadline deadline(socket.Get(), stop, limit);
  std::unique_ptr<wl_display, WaylandDisconnection> display(wayland->connectToFd(socket.Release()));
  return display && wayland->roundtrip(display.get()) >= 0;
}

// Whether the display the environment names answers. Wayland is asked first.
bool SessionDisplayAnswers(std::stop_token stop) {
  std::string wayland = Environment("WAYLAND_DISPLAY");
  if (WaylandDisplayAnswers(wayland, Environment("XDG_RUNTIME_DIR"), stop)) return true;
  std::string x = Environment("DISPLAY");
  return !x.empty() && XDisplayAnswers(x, kXSocketFolder, stop);
}

// What a check on a thread of its own and the caller who waits for it share; whoever is left
// last frees it.
struct SharedCheck {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<bool> answer;
  bool givenUp = false;
  std::stop_source stop;  // Ends the check's handshake once the caller has given up.
};

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

bool XDisplayAnswers(const std::string& display, const std::string& socketFolder,
                     std::stop_token stop, std::chrono::milliseconds limit) {
  std::optional<XDisplayAddress> address = ParseXDisplay(display);
  if (!address) return false;
  UniqueFd socket;
  if (!address->host.empty()) {
    socket = ConnectTcp(address->host, 6000 + address->number, limit);
  } else {
    std::string path = socketFolder + "/X" + std::to_string(address->number);
    socket = ConnectLocal("@" + path, limit);
    if (!socket.Valid()) socket = ConnectLocal(path, limit);
  }
  return socket.Valid() && XServerAccepts(std::move(socket), address->number, stop, limit);
}

bool WaylandDisplayAnswers(const std::string& name, const std::string& runtimeFolder,
                           std::stop_token stop, std::chrono::milliseconds limit) {
  if (name.empty() || (name[0] != '/' && runtimeFolder.empty())) return false;
  UniqueFd socket = ConnectLocal(name[0] == '/' ? name : runtimeFolder + "/" + name, limit);
  return socket.Valid() && CompositorAnswers(std::move(socket), stop, limit);
}

// The check runs on a thread of its own, so that the caller's wait stays bounded and ends on a
// stop or an interrupt even where the check cannot: in the open of an authority file on a home
// that has hung. Such a thread is left behind; it holds nothing the process needs.
bool DisplayAnswers(std::stop_token stop) {
  auto check = std::make_shared<SharedCheck>();
  try {
    std::thread([check] {
      bool answer = SessionDisplayAnswers(check->stop.get_token());
      std::lock_guard lock(check->mutex);
      check->answer = answer;
      check->changed.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return SessionDisplayAnswers(stop);  // No thread to be had: the check's own bounds hold.
  }
  auto giveUp = [&check] {
    std::lock_guard lock(check->mutex);
    check->givenUp = true;
    check->changed.notify_all();
  };
  std::stop_callback<std::function<void()>> onStop(stop, giveUp);
  OnInterrupt onInterrupt(giveUp);
  std::unique_lock lock(check->mutex);
  check->changed.wait_for(lock, kDisplayAnswerLimit + kStuckCheckMargin,
                          [&check] { return check->answer || check->givenUp; });
  if (check->answer) return *check->answer;
  check->stop.request_stop();
  return false;
}

}  // namespace zipdrop
