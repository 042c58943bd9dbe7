#include "platform/posix/terminal_io.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/interrupts.h"
#include "platform/posix/unique_fd.h"

namespace zipdrop {

void WriteToTerminal(int fd, std::string_view text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
  }
}

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
    ssize_t count = read(tty, &c, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    if (c == '\n') return true;
    take(c);
    c = 0;
  }
}

}  // namespace zipdrop
