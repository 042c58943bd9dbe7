// A tmpfs mounted over a test's folder for the test's lifetime, where the test may mount (as root
// or with CAP_SYS_ADMIN); elsewhere Mounted() is false and the folder stays as it was.
#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zipdrop::testing {

class TmpfsMount {
 public:
  /// Mounts a tmpfs of `bytes` bytes (0: the kernel's default) over folder.
  TmpfsMount(std::string folder, std::size_t bytes) : folder_(std::move(folder)) {
    std::string options = "mode=0755";
    if (bytes > 0) options += ",size=" + std::to_string(bytes);
    mounted_ = mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    if (!mounted_) error_ = std::strerror(errno);
  }
  ~TmpfsMount() {
    // A lazy unmount cannot fail on a descriptor the test still holds.
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool Mounted() const { return mounted_; }
  /// Why the mount failed, for a skip message.
  const std::string& Error() const { return error_; }

 private:
  std::string folder_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace zipdrop::testing
