#include "platform/posix/report_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/platform_services.h"
#include "platform/posix/display_check.h"
#include "platform/posix/extractor/skip_summary.h"
#include "platform/posix/process_spawn.h"
#include "platform/posix/program_search.h"
#include "platform/posix/unique_fd.h"

namespace zipdrop {

namespace {

// A window of this size fits an 800×600 screen with room for a panel.
constexpr char kWidth[] = "640";
constexpr char kHeight[] = "440";

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte offsets where each character of the UTF-8 text starts.
std::vector<std::size_t> CharacterStarts(const std::string& text) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsContinuationByte(text[i])) starts.push_back(i);
  }
  return starts;
}

std::string TotalsLine(const ExtractionReport& report, const std::string& archiveName,
                       std::uint64_t skipped) {
  return "「" + archiveName + "」の " + std::to_string(skipped) +
         " 件を展開しませんでした (展開したファイル " + std::to_string(report.filesWritten) +
         " 件)。\n";
}

void WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;  // The window went before reading it all; its status tells.
    done += static_cast<std::size_t>(count);
  }
}

// A dialog program answers 0 for OK and 1 for a window closed another way; anything else means
// the user has most likely not seen the text.
bool TryTextWindow(const std::vector<std::string>& command, const std::string& text,
                   const std::string& programFolder) {
  std::optional<std::string> path = FindTrustedProgram(command[0], programFolder);
  if (!path) return false;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  UniqueFd reading(ends[0]), writing(ends[1]);
  pid_t child = -1;
  try {
    child = SpawnProgramReading(*path, command, reading.Get());
  } catch (const PlatformError&) {
    return false;
  }
  reading.Reset();
  WriteAll(writing.Get(), text);
  writing.Reset();
  int status = WaitForExit(child);
  return status == 0 || status == 1;
}

}  // namespace

std::string ShortenedName(const std::string& name, std::size_t maxCharacters) {
  std::vector<std::size_t> starts = CharacterStarts(name);
  if (starts.size() <= maxCharacters || maxCharacters < 3) return name;
  std::size_t head = (maxCharacters - 1) / 2;
  std::size_t tail = maxCharacters - 1 - head;
  return name.substr(0, starts[head]) + "…" + name.substr(starts[starts.size() - tail]);
}

std::string ReportText(const ExtractionReport& report, const std::string& archiveName) {
  std::uint64_t total = 0;
  for (const ExtractionReport::Skipped& skipped : report.skipped) total += skipped.count;
  if (total == 0) return "";
  std::string text = TotalsLine(report, archiveName, total);
  for (const ExtractionReport::Skipped& skipped : report.skipped) {
    text += "\n" + std::string(DescribeReason(skipped.reason)) + " (" +
            std::to_string(skipped.count) + " 件)\n";
    for (const std::string& name : skipped.names) text += "  " + ShortenedName(name) + "\n";
  }
  return text;
}

bool ShowTextWindow(const std::string& text, const std::string& title,
                    const std::string& programFolder) {
  if (!DisplayAnswers()) return false;
  std::vector<std::string> zenity = {"zenity", "--text-info", "--title=" + title,
                                     std::string("--width=") + kWidth,
                                     std::string("--height=") + kHeight};
  if (TryTextWindow(zenity, text, programFolder)) return true;
  // kdialog reads a file: its standard input serves as one.
  std::vector<std::string> kdialog = {"kdialog",    "--title", title,  "--textbox",
                                      "/dev/stdin", kWidth,    kHeight};
  return TryTextWindow(kdialog, text, programFolder);
}

}  // namespace zipdrop
