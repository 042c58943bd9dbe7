#include "platform/posix/ui/message_box.h"

#include <cstdio>

#include "platform/platform_services.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/ui/dialog_programs.h"

namespace zipdrop {

namespace {

// The title on a line of its own, then the text.
std::string ConsoleMessage(const std::string& text, const std::string& title) {
  return title + "\n" + text + "\n";
}

}  // namespace

std::string MessageBytes(const std::u16string& text) {
  std::u16string lines;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r') {
      lines.push_back(text[i]);
    } else if (i + 1 >= text.size() || text[i + 1] != u'\n') {
      lines.push_back(u'\n');
    }
  }
  return ToSystemBytes(lines);
}

bool ShowDialog(const std::string& text, const std::string& title, int iconCode,
                const std::string& programFolder) {
  // Cancel, Escape and closing the window all leave the message read.
  return RunDialog(MessageDialogs(text, title, iconCode), programFolder).end !=
         DialogEnd::kNotShown;
}

void WriteToStandardError(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stderr) != text.size()) {
    throw PlatformError("cannot write the message to standard error");
  }
  std::fflush(stderr);
}

void ShowMessageBox(const std::u16string& text, const std::u16string& title, int iconCode,
                    const std::string& programFolder) {
  std::string textBytes = MessageBytes(text);
  std::string titleBytes = MessageBytes(title);
  if (!ShowDialog(textBytes, titleBytes, iconCode, programFolder)) {
    WriteToStandardError(ConsoleMessage(textBytes, titleBytes));
  }
}

}  // namespace zipdrop
