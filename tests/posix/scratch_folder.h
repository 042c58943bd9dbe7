// Test fixtures for the POSIX platform's tests: a fresh folder that is removed afterwards, and
// changes to the environment or the working directory that are undone afterwards.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
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

/// A local stream socket bound at path, as a display server's. It accepts connections while
/// listening; once Close is called the socket file stays behind with nobody listening, as a
/// server that died leaves it.
class ListeningSocket {
 public:
  explicit ListeningSocket(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd_, 4) != 0) {
      throw std::runtime_error("cannot listen at " + path);
    }
  }
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

/// A desktop session for the dialog code under test: a display socket that answers as a Wayland
/// compositor's would, no X display, and a PATH that holds only the fake programs put in Bin().
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
  ListeningSocket compositor_;
};

}  // namespace zipdrop::testing
