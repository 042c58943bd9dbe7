#include "platform/posix/extractor/extraction_plan.h"

#include <algorithm>

namespace zipdrop {

namespace {

// Creating, writing, timing, closing and renaming one file costs about as much as writing this
// many bytes, as measured on ext4 with small files.
constexpr std::uint64_t kCostPerEntry = 64 * 1024;
// Below this much estimated work a second worker does not pay for its thread.
constexpr std::uint64_t kParallelThreshold = 16 * 1024 * 1024;
// Ranges per worker: enough for an even finish, few enough that each worker still writes long runs
// of neighbouring entries.
constexpr std::size_t kRangesPerWorker = 8;
constexpr std::size_t kMostWorkers = 8;
std::uint64_t TotalCost(const std::vector<CentralEntry>& entries) {
  std::uint64_t total = 0;
  for (const CentralEntry& entry : entries) total += EstimatedCost(entry);
  return total;
}

}  // namespace

std::uint64_t EstimatedCost(const CentralEntry& entry) {
  // Sizes are capped so that a header claiming exabytes cannot overflow the sums; such an entry
  // is stopped at its real size anyway.
  std::uint64_t written = std::min<std::uint64_t>(entry.uncompressedSize, std::uint64_t{1} << 40);
  std::uint64_t decoded = entry.method == 0 ? 0 : written;
  return kCostPerEntry + written + decoded;
}

std::vector<EntryRange> PlanRanges(const std::vector<CentralEntry>& entries, std::size_t workers) {
  std::vector<EntryRange> ranges;
  if (entries.empty()) return ranges;
  std::size_t wanted = std::max<std::size_t>(1, workers == 1 ? 1 : workers * kRangesPerWorker);
  std::uint64_t share = std::max<std::uint64_t>(1, TotalCost(entries) / wanted);
  std::uint64_t cost = 0;
  EntryRange current;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    cost += EstimatedCost(entries[i]);
    if (cost >= share && ranges.size() + 1 < wanted) {
      current.end = i + 1;
      ranges.push_back(current);
      current.begin = current.end;
      cost = 0;
    }
  }
  if (current.begin < entries.size()) ranges.push_back({current.begin, entries.size()});
  return ranges;
}

std::size_t WorkersFor(const std::vector<CentralEntry>& entries, std::size_t cores) {
  if (cores <= 1 || entries.size() < 2 || TotalCost(entries) < kParallelThreshold) return 1;
  return std::min({cores, kMostWorkers, entries.size()});
}

std::optional<std::size_t> RangeQueue::Claim() {
  if (Stopped()) return std::nullopt;
  std::size_t index = next_.fetch_add(1);
  if (index >= rangeCount_) return std::nullopt;
  return index;
}

void RangeQueue::Stop(StopReason reason) {
  StopReason none = StopReason::kNone;
  stop_.compare_exchange_strong(none, reason);
}

}  // namespace zipdrop
