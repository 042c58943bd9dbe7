// Where the user can be asked something during one copy, as the Windows shell asks in windows of
// its own: in a dialog when a display accepts us, otherwise on the controlling terminal. The
// password prompt and the clash question share one, and the progress display holds back while
// either has a question open: its window would open over the question, and its line would write
// over it on the terminal.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/posix/unique_fd.h"

namespace zipdrop {

class UserContact {
 public:
  /// Whether a display accepts us. It and the terminal are looked at on the first question only:
  /// most copies ask none.
  bool Display();
  /// The controlling terminal, or -1 without one.
  int Terminal();
  /// Whether anyone can be asked at all.
  bool Reachable() { return Display() || Terminal() >= 0; }

  /// Marks a question as open for as long as it lives.
  class OpenQuestion {
   public:
    explicit OpenQuestion(UserContact& user) : user_(user) { user_.open_.fetch_add(1); }
    ~OpenQuestion() { user_.open_.fetch_sub(1); }
    OpenQuestion(const OpenQuestion&) = delete;
    OpenQuestion& operator=(const OpenQuestion&) = delete;

   private:
    UserContact& user_;
  };
  bool QuestionOpen() const { return open_.load() > 0; }

 private:
  void Look();

  std::once_flag looked_;
  bool display_ = false;
  UniqueFd terminal_;
  std::atomic<int> open_{0};
};

}  // namespace zipdrop
