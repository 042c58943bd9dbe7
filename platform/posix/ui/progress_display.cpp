#include "platform/posix/ui/progress_display.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/posix/ui/dialog_programs.h"
#include "platform/posix/ui/skip_summary.h"
#include "platform/posix/ui/terminal_io.h"
#include "zipdrop/extractor/printable_name.h"

namespace zipdrop {

namespace {

constexpr std::chrono::milliseconds kRedrawInterval{250};
constexpr int kBarWidth = 20;

// An archive may understate its sizes, so the count can pass the total.
int Percent(std::uint64_t written, std::uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(std::min(100.0L, written * 100.0L / total));
}

// Shows a path below the working directory relative to it, as a user at a terminal typed it.
std::string AsTyped(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path here = std::filesystem::current_path(error);
  if (error) return path.string();
  std::filesystem::path relative = path.lexically_relative(here);
  if (relative.empty() || *relative.begin() == "..") return path.string();
  return relative.string();
}

}  // namespace

std::string ProgressLine(const std::string& archiveName, std::uint64_t written, std::uint64_t total,
                         double seconds) {
  std::string line = archiveName;
  if (total > 0) {
    int percent = Percent(written, total);
    int filled = percent * kBarWidth / 100;
    line += "  " + std::to_string(percent) + "% [" + std::string(filled, '#') +
            std::string(kBarWidth - filled, '.') + "]  " + DescribeSize(written) + " / " +
            DescribeSize(total);
  } else {
    line += "  " + DescribeSize(written);
  }
  if (seconds > 0) {
    line += "  " + DescribeSize(static_cast<std::uint64_t>(written / seconds)) + "/s";
  }
  return line;
}

std::string ClosingLine(std::uint64_t filesWritten, const std::string& folder) {
  return std::to_string(filesWritten) + " 件を展開しました → " + folder;
}

ProgressDisplay::ProgressDisplay(ExtractionProgress& progress, ProgressSettings settings)
    : progress_(progress), settings_(std::move(settings)), thread_([this] { Run(); }) {}

ProgressDisplay::~ProgressDisplay() { Stop(); }

void ProgressDisplay::Finish(std::uint64_t filesWritten) {
  Stop();
  if (!isatty(settings_.terminalFd)) return;
  // Names may hold control characters, and the terminal must not take them as its commands.
  std::string line = ClosingLine(filesWritten, PrintableName(AsTyped(settings_.destination)));
  if (progress_.Cancelled()) line = "取り消しました: " + line;
  WriteToTerminal(settings_.terminalFd, line + "\n");
}

void ProgressDisplay::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  closing_.request_stop();
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

// True once the display is to stop.
bool ProgressDisplay::WaitFor(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return wake_.wait_for(lock, duration, [this] { return stopping_; });
}

void ProgressDisplay::Run() {
  if (WaitFor(settings_.delay)) return;
  // Nothing is shown while the user is asked something.
  while (QuestionOpen()) {
    if (WaitFor(kRedrawInterval)) return;
  }
  mode_ = OpenWindow() ? Mode::kWindow : Choose();
  while (mode_ != Mode::kNone) {
    if (mode_ == Mode::kWindow && !UpdateWindow()) mode_ = Choose();
    if (mode_ == Mode::kTerminal) DrawLine();
    if (WaitFor(kRedrawInterval)) break;
  }
  if (mode_ == Mode::kWindow) window_.Close();
  if (mode_ == Mode::kTerminal) WriteToTerminal(settings_.terminalFd, "\r\x1b[K");
}

// Where the progress goes when there is no window: a terminal, unless the user cancelled.
ProgressDisplay::Mode ProgressDisplay::Choose() {
  if (progress_.Cancelled() || !isatty(settings_.terminalFd)) return Mode::kNone;
  return Mode::kTerminal;
}

bool ProgressDisplay::OpenWindow() {
  return window_.Open(PrintableName(settings_.archiveName) + " を展開しています", "展開しています",
                      settings_.destination, closing_.get_token());
}

// Sends the percentage; false once the window has gone. Only the user's Cancel, or closing the
// window, cancels the run.
bool ProgressDisplay::UpdateWindow() {
  std::uint64_t written = progress_.Written(), total = progress_.DeclaredTotal();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  rate_.Add(seconds, written);
  std::optional<DialogEnd> end = window_.Update(
      Percent(written, total), PrintableName(settings_.archiveName) + " を展開しています\n" +
                                   ProgressText(written, total, rate_.BytesPerSecond()));
  if (end == DialogEnd::kDeclined) progress_.Cancel();
  return !end;
}

void ProgressDisplay::DrawLine() {
  // The terminal is asking the user something: the line must not write over the question.
  if (QuestionOpen()) return;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::string line = ProgressLine(PrintableName(settings_.archiveName), progress_.Written(),
                                  progress_.DeclaredTotal(), seconds);
  WriteToTerminal(settings_.terminalFd, "\r" + line + "\x1b[K");
}

}  // namespace zipdrop
