// An owned file descriptor, closed when its owner goes away.
#pragma once

#include <unistd.h>

#include <utility>

namespace zipdrop {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }

  /// Gives up ownership without closing, e.g. to hand the descriptor to fdopendir.
  int Release() { return std::exchange(fd_, -1); }

  void Reset(int fd = -1) {
    // close is not retried on EINTR: on Linux the descriptor is released even then.
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace zipdrop
