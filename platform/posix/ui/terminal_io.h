// Talking with the user at the controlling terminal: the progress line, and the questions asked
// there when there is no desktop.
#pragma once

#include <functional>
#include <string_view>

namespace zipdrop {

/// Writes the whole text, however the terminal splits it; a terminal that has gone is nothing to
/// stop the run for, so failures are passed over.
void WriteToTerminal(int fd, std::string_view text);

/// Reads one line from the terminal, handing each character but the newline to take. True when
/// the line was ended by a newline; false at the end of input, on an error, or once an interrupt
/// has arrived: the run is then about to end, and must not wait for an answer first.
bool ReadTerminalLine(int tty, const std::function<void(char)>& take);

}  // namespace zipdrop
