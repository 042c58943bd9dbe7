#include "platform/posix/ui/user_contact.h"

#include <fcntl.h>

#include "platform/posix/ui/display_check.h"

namespace zipdrop {

void UserContact::Look() {
  std::call_once(looked_, [this] {
    display_ = DisplayAnswers();
    terminal_ = UniqueFd(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  });
}

bool UserContact::Display() {
  Look();
  return display_;
}

int UserContact::Terminal() {
  Look();
  return terminal_.Valid() ? terminal_.Get() : -1;
}

}  // namespace zipdrop
