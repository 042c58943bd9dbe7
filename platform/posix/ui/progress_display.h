// What the Windows shell shows while it copies out of an archive: after about a second, a
// progress window with a Cancel button in a desktop session, or a line redrawn on a terminal.
#pragma once

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/posix/ui/dialog_programs.h"
#include "platform/posix/ui/progress_text.h"
#include "platform/posix/ui/user_contact.h"
#include "zipdrop/extractor/extraction_progress.h"

namespace zipdrop {

struct ProgressSettings {
  std::string archiveName;      // The archive's file name, as shown to the user.
  std::string destination;      // The folder it is extracted into; no dialog program runs from it.
  UserContact* user = nullptr;  // Nothing is drawn while it has a question open.
  std::chrono::milliseconds delay{1000};  // Quicker extractions show nothing until they end.
  int terminalFd = STDERR_FILENO;
};

/// One state of the terminal line: the name, the percentage and a bar when the archive declared a
/// total, the bytes written, and the rate so far.
std::string ProgressLine(const std::string& archiveName, std::uint64_t written, std::uint64_t total,
                         double seconds);

/// The line left on the terminal after the run, e.g. "3 件を展開しました → build". It names the
/// folder the files went into: which folder is then opened is the run's own business.
std::string ClosingLine(std::uint64_t filesWritten, const std::string& folder);

/// Shows the progress of one extraction from construction until Finish (or destruction), on a
/// thread of its own. Cancel in the window cancels the progress. Nothing is shown when no
/// display answers and the terminal stream is not a terminal.
class ProgressDisplay {
 public:
  ProgressDisplay(ExtractionProgress& progress, ProgressSettings settings);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  /// Closes the window or clears the line, and on a terminal says what was extracted where.
  void Finish(std::uint64_t filesWritten);

 private:
  enum class Mode { kNone, kWindow, kTerminal };

  void Run();
  bool WaitFor(std::chrono::milliseconds duration);
  Mode Choose();
  bool OpenWindow();
  bool UpdateWindow();
  void DrawLine();
  void Stop();
  bool QuestionOpen() const { return settings_.user && settings_.user->QuestionOpen(); }

  ExtractionProgress& progress_;
  ProgressSettings settings_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  Mode mode_ = Mode::kNone;
  ProgressWindow window_;
  RecentRate rate_;  // Used by the display's thread only.
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::stop_source closing_;  // Ends a display check under way, so that closing never waits on it.
  std::thread thread_;        // Last, so that it starts once everything it uses is ready.
};

}  // namespace zipdrop
