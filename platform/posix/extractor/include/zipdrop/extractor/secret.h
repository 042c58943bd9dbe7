// Text that must not outlive its use: a password.
#pragma once

#include <string.h>

#include <string>
#include <string_view>

namespace zipdrop {

/// Holds a password and wipes its bytes when it goes, or is replaced, so that no copy is left in
/// freed memory. Copies are explicit: Clone.
class Secret {
 public:
  Secret() = default;
  explicit Secret(std::string_view text) {
    // Past the small-string size, so the bytes live in a heap buffer that moves never copy.
    text_.reserve(64);
    text_.assign(text);
  }
  Secret(Secret&& other) noexcept { Swap(other); }
  Secret& operator=(Secret&& other) noexcept {
    Wipe();
    Swap(other);
    return *this;
  }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { Wipe(); }

  Secret Clone() const { return Secret(text_); }
  std::string_view View() const { return text_; }
  bool Empty() const { return text_.empty(); }

  /// Appends one character, keeping the bytes in one buffer that Wipe reaches: a growing string
  /// would leave its old buffers behind unwiped, so the buffer is large enough from the start.
  void Append(char c) {
    if (text_.size() + 1 >= text_.capacity()) {
      Secret larger;
      larger.text_.reserve(text_.capacity() * 2 + 64);
      larger.text_.assign(text_);
      *this = std::move(larger);
    }
    text_.push_back(c);
  }
  void PopBack() {
    if (text_.empty()) return;
    text_.back() = '\0';
    text_.pop_back();
  }

 private:
  void Swap(Secret& other) noexcept { text_.swap(other.text_); }
  void Wipe() {
    explicit_bzero(text_.data(), text_.capacity());
    text_.clear();
  }

  std::string text_;
};

}  // namespace zipdrop
