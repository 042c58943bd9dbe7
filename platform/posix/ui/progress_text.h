// The text under the progress window's bar, computed here rather than left to the dialog program,
// whose own time estimate jumps about (0:00:00 at a quarter of the way): the percentage, the bytes
// written of the total, the rate, and a time left that stays steady.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace zipdrop {

/// The rate over the last few seconds: steadier than the last interval, closer to the present
/// than the average since the start (which a slow first folder would drag down for the whole run).
class RecentRate {
 public:
  explicit RecentRate(double spanSeconds = 5) : span_(spanSeconds) {}
  /// Notes how many bytes were written by the time `seconds` into the run.
  void Add(double seconds, std::uint64_t written);
  /// Bytes per second over the span; nothing until the samples cover a second.
  std::optional<double> BytesPerSecond() const;

 private:
  struct Sample {
    double seconds;
    std::uint64_t written;
  };
  double span_;
  std::deque<Sample> samples_;
};

/// How long is left, in Japanese, rounded more coarsely the longer it is, so that it does not
/// flicker: "残り約 8 秒", "残り約 2 分 10 秒", "残り約 1 時間 5 分".
std::string TimeLeftText(double seconds);

/// The line shown under the bar, e.g. "45% — 120.0 MB / 260.0 MB — 35.2 MB/秒 — 残り約 4 秒".
/// Without a total (an archive that declares no sizes) only the bytes and the rate are shown;
/// without a rate, neither it nor the time left.
std::string ProgressText(std::uint64_t written, std::uint64_t total, std::optional<double> rate);

}  // namespace zipdrop
