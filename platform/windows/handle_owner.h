// Owner of a kernel HANDLE, closed exactly once.
#pragma once

#include <windows.h>

#include <utility>

namespace zipdrop {

class HandleOwner {
 public:
  HandleOwner() = default;
  explicit HandleOwner(HANDLE handle) : handle_(handle) {}
  HandleOwner(const HandleOwner&) = delete;
  HandleOwner& operator=(const HandleOwner&) = delete;
  HandleOwner(HandleOwner&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  HandleOwner& operator=(HandleOwner&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~HandleOwner() { Close(); }

  HANDLE Get() const { return handle_; }
  // Win32 marks "no handle" with null for some APIs and INVALID_HANDLE_VALUE for others.
  bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  void Close() {
    if (IsValid()) CloseHandle(handle_);
    handle_ = nullptr;
  }

  HANDLE handle_ = nullptr;
};

}  // namespace zipdrop
