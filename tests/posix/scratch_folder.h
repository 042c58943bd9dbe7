// Test fixtures for the POSIX platform's tests: a fresh folder that is removed afterwards, and
// changes to the environment or the working directory that are undone afterwards.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server-core.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zipdrop::testing {

/// A new, empty folder under the system's temporary folder, removed with all its contents (even
/// read-only ones) when the object goes away.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string templ = (std::filesystem::temp_directory_path() / "zipdrop-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
  }
  ~ScratchFolder() {
    // Tests leave folders without permissions behind; one more level of them can be listed
    // after each pass that opens up the level above.
    chmod(path_.c_str(), 0700);
    for (int pass = 0; pass < 4; ++pass) OpenUpFolders();
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  void OpenUpFolders() const {
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) chmod(it->path().c_str(), 0700);
    }
  }

  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file) throw std::runtime_error("cannot write " + path);
  }
  chmod(path.c_str(), mode);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

/// Every name below root, relative to it and sorted, hidden files included; links are listed,
/// not followed.
inline std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
    names.push_back(std::filesystem::relative(item.path(), root).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// A shell script that writes each of its arguments, followed by a NUL byte, to recordPath.
inline void WriteRecorderScript(const std::string& scriptPath, const std::string& recordPath,
                                int exitStatus = 0) {
  WriteFile(scriptPath,
            "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + recordPath +
                "'\nexit " + std::to_string(exitStatus) + "\n",
            0755);
}

/// The arguments a recorder script wrote, in order.
inline std::vector<std::string> ReadRecordedArguments(const std::string& recordPath) {
  std::string bytes = ReadFile(recordPath);
  std::vector<std::string> arguments;
  size_t start = 0;
  for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
    arguments.push_back(bytes.substr(start, end - start));
  }
  return arguments;
}

/// Sets (or, given nothing, unsets) an environment variable until the object goes away.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    Apply(value);
  }
  ~ScopedEnvironment() { Apply(old_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  std::string name_;
  std::optional<std::string> old_;
};

/// Makes folder the working directory until the object goes away.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::string& folder) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~ScopedWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
  }
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

 private:
  std::filesystem::path old_;
};

/// A local stream socket bound at path and listening, as a display server's.
inline int ListenAt(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 4) != 0) {
    throw std::runtime_error("cannot listen at " + path);
  }
  return fd;
}

/// A display server's socket that takes connections into its backlog and never says a word, as
/// a server that hangs; once Close is called the socket file stays behind with nobody
/// listening, as a server that died leaves it.
class ListeningSocket {
 public:
  explicit ListeningSocket(const std::string& path) : fd_(ListenAt(path)) {}
  ~ListeningSocket() { Close(); }
  ListeningSocket(const ListeningSocket&) = delete;
  ListeningSocket& operator=(const ListeningSocket&) = delete;

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

/// A Wayland compositor made with libwayland-server, which answers its clients' round trips from
/// a thread of its own; after Close its socket file stays behind, as a compositor that died
/// leaves it.
class FakeCompositor {
 public:
  explicit FakeCompositor(const std::string& path) : display_(wl_display_create()) {
    if (display_ == nullptr || wl_display_add_socket_fd(display_, ListenAt(path)) != 0) {
      throw std::runtime_error("cannot serve Wayland at " + path);
    }
    thread_ = std::thread([this] {
      // Not wl_display_run, which would miss a terminate that came before it started.
      while (!stopping_) {
        wl_display_flush_clients(display_);
        wl_event_loop_dispatch(wl_display_get_event_loop(display_), -1);
      }
    });
  }
  ~FakeCompositor() { Close(); }
  FakeCompositor(const FakeCompositor&) = delete;
  FakeCompositor& operator=(const FakeCompositor&) = delete;

  void Close() {
    if (display_ == nullptr) return;
    stopping_ = true;
    wl_display_terminate(display_);  // Wakes the loop.
    thread_.join();
    wl_display_destroy(display_);
    display_ = nullptr;
  }

 private:
  wl_display* display_;
  std::atomic<bool> stopping_ = false;
  std::thread thread_;
};

/// A desktop session for the dialog code under test: a Wayland compositor that answers, no X
/// display, and a PATH that holds only the fake programs put in Bin().
class FakeDesktop {
 public:
  FakeDesktop()
      : path_("PATH", bin_.Path()), display_("DISPLAY", std::nullopt),
        wayland_("WAYLAND_DISPLAY", "wayland-9"), runtimeDir_("XDG_RUNTIME_DIR", runtime_.Path()),
        compositor_(runtime_ / "wayland-9") {}

  const ScratchFolder& Bin() const { return bin_; }

 private:
  ScratchFolder bin_, runtime_;
  ScopedEnvironment path_, display_, wayland_, runtimeDir_;
  FakeCompositor compositor_;
};

}  // namespace zipdrop::testing
