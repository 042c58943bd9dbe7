#include "platform/posix/ui/progress_text.h"

#include <algorithm>
#include <cmath>

#include "platform/posix/ui/skip_summary.h"

namespace zipdrop {

namespace {

constexpr char kSeparator[] = " — ";

std::string Number(long long value) { return std::to_string(value); }

// Seconds are rounded up below a minute, so that "残り約 0 秒" never shows while work remains.
std::string CoarseDuration(double seconds) {
  long long whole = static_cast<long long>(std::ceil(seconds));
  if (whole < 60) return Number(std::max(1LL, whole)) + " 秒";
  if (whole < 3600) {
    long long tens = (whole % 60) / 10 * 10;
    std::string text = Number(whole / 60) + " 分";
    return tens > 0 ? text + " " + Number(tens) + " 秒" : text;
  }
  long long minutes = (whole % 3600) / 60;
  std::string text = Number(whole / 3600) + " 時間";
  return minutes > 0 ? text + " " + Number(minutes) + " 分" : text;
}

}  // namespace

void RecentRate::Add(double seconds, std::uint64_t written) {
  samples_.push_back({seconds, written});
  // The oldest sample kept is the last one at least a span old, so the window always covers it.
  while (samples_.size() > 2 && samples_[1].seconds <= seconds - span_) samples_.pop_front();
}

std::optional<double> RecentRate::BytesPerSecond() const {
  if (samples_.size() < 2) return std::nullopt;
  double elapsed = samples_.back().seconds - samples_.front().seconds;
  if (elapsed < 1) return std::nullopt;
  return static_cast<double>(samples_.back().written - samples_.front().written) / elapsed;
}

std::string TimeLeftText(double seconds) { return "残り約 " + CoarseDuration(seconds); }

std::string ProgressText(std::uint64_t written, std::uint64_t total, std::optional<double> rate) {
  std::string text;
  if (total > 0) {
    // An archive may understate its sizes, so the count can pass the total.
    int percent = static_cast<int>(std::min(99.0L, written * 100.0L / total));
    text = Number(percent) + "%" + kSeparator + DescribeSize(written) + " / " + DescribeSize(total);
  } else {
    text = DescribeSize(written);
  }
  if (!rate) return text;
  text += kSeparator + DescribeSize(static_cast<std::uint64_t>(*rate)) + "/秒";
  if (total > written && *rate > 0) {
    text += kSeparator + TimeLeftText(static_cast<double>(total - written) / *rate);
  }
  return text;
}

}  // namespace zipdrop
