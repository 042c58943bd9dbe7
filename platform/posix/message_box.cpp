#include "platform/posix/message_box.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "platform/platform_services.h"
#include "platform/posix/display_check.h"
#include "platform/posix/process_spawn.h"
#include "platform/posix/program_search.h"
#include "platform/posix/text_encoding.h"

namespace zipdrop {

namespace {

enum class DialogProgram { kZenity, kKdialog };

std::vector<std::string> ZenityCommand(const std::string& text, const std::string& title,
                                       int iconCode) {
  const char* kind = iconCode == kIconExclamation ? "--warning"
                     : iconCode == kIconStop      ? "--error"
                                                  : "--info";
  // --no-markup shows the text as it is: without it zenity parses Pango markup and also
  // expands backslash escapes, which would eat the backslashes of a Windows path.
  return {"zenity", kind, "--no-markup", "--title=" + title, "--text=" + text};
}

std::vector<std::string> KdialogCommand(const std::string& text, const std::string& title,
                                        int iconCode) {
  const char* kind = iconCode == kIconExclamation ? "--sorry"
                     : iconCode == kIconStop      ? "--error"
                                                  : "--msgbox";
  return {"kdialog", "--title", title, kind, AsLiteralRichText(text)};
}

// The command (argv[0] first) that shows the text literally in a modal dialog.
std::vector<std::string> DialogCommand(DialogProgram program, const std::string& text,
                                       const std::string& title, int iconCode) {
  return program == DialogProgram::kZenity ? ZenityCommand(text, title, iconCode)
                                           : KdialogCommand(text, title, iconCode);
}

// The title on a line of its own, then the text.
std::string ConsoleMessage(const std::string& text, const std::string& title) {
  return title + "\n" + text + "\n";
}

// A dialog program answers 0 for OK and 1 for a dialog closed another way; anything else
// (a missing display, a crash) means the user has most likely not seen the message.
bool TryDialog(DialogProgram program, const std::string& text, const std::string& title,
               int iconCode, const std::string& programFolder) {
  std::vector<std::string> command = DialogCommand(program, text, title, iconCode);
  std::optional<std::string> path = FindTrustedProgram(command[0], programFolder);
  if (!path) return false;
  try {
    int status = WaitForExit(SpawnProgram(*path, command, SpawnMode::kAttached));
    return status == 0 || status == 1;
  } catch (const PlatformError&) {
    return false;
  }
}

}  // namespace

// Qt guesses whether a text is rich text, so a plain text that happens to start with a tag
// would be rendered as markup. Declaring rich text outright and escaping every special
// character removes the guess. The backslash is escaped too, because kdialog expands "\n".
std::string AsLiteralRichText(const std::string& text) {
  std::string out = "<qt><p style=\"white-space:pre-wrap\">";
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\\': out += "&#92;"; break;
      case '\n': out += "<br>"; break;
      default: out.push_back(c);
    }
  }
  return out + "</p></qt>";
}

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
  if (!DisplayAnswers()) return false;
  for (DialogProgram program : {DialogProgram::kZenity, DialogProgram::kKdialog}) {
    if (TryDialog(program, text, title, iconCode, programFolder)) return true;
  }
  return false;
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
