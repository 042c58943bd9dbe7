#include "platform/posix/ui/terminal_io.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/fd_io.h"
#include "platform/posix/interrupts.h"
#include "platform/posix/unique_fd.h"

namespace zipdrop {

void WriteToTerminal(int fd, std::string_view text) { WriteAll(fd, text.data(), text.size()); }

bool ReadTerminalLine(int tty, const std::function<void(char)>& take) {
  UniqueFd wake(eventfd(0, EFD_CLOEXEC));
  if (!wake.Valid()) return false;
  OnInterrupt stop([&wake] {
    std::uint64_t one = 1;
    // An eventfd that is not full always takes the write.
    [[maybe_unused]] ssize_t written = write(wake.Get(), &one, sizeof one);
  });
  for (;;) {
    pollfd fds[2] = {{tty, POLLIN, 0}, {wake.Get(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents != 0) return false;
    char c = 0;
    if (ReadSome(tty, &c, 1).count == 0) return false;
    if (c == '\n') return true;
    take(c);
    c = 0;
  }
}

}  // namespace zipdrop
