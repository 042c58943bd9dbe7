// How the entries of one archive are shared among the workers that extract them in parallel.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/posix/extractor/central_directory.h"

namespace zipdrop {

/// Entries [begin, end) in the order of the directory, sorted by where their data lies.
struct EntryRange {
  std::size_t begin = 0;
  std::size_t end = 0;
};

/// The estimated cost of extracting the entry, in bytes-equivalent: creating any file costs
/// about as much as writing a few tens of kilobytes, and compressed data costs its decoding too.
std::uint64_t EstimatedCost(const CentralEntry& entry);

/// Splits the entries into contiguous ranges of about equal estimated cost, several per worker,
/// so that workers which finish early take more and a busy core does not hold the rest back.
/// Consecutive entries stay together, which keeps the folders a worker writes into the same.
std::vector<EntryRange> PlanRanges(const std::vector<CentralEntry>& entries, std::size_t workers);

/// How many workers the archive is worth: one for small archives, where starting threads costs
/// more than it saves, up to `cores` for large ones. The workers share the one directory, so
/// their number costs no memory per entry.
std::size_t WorkersFor(const std::vector<CentralEntry>& entries, std::size_t cores);

/// Why the workers stopped early. kFailed: a worker threw, and its exception is carried to the
/// caller, so no report is made from what the others did.
enum class StopReason { kNone, kFailed, kDiskFull };

/// Hands the ranges out in order, one claim at a time, and carries the signal to stop. Shared by
/// the workers of one extraction.
class RangeQueue {
 public:
  explicit RangeQueue(std::size_t rangeCount) : rangeCount_(rangeCount) {}

  /// The index of the next unclaimed range, or nothing once all are claimed or the work stopped.
  std::optional<std::size_t> Claim();

  /// Asks every worker to stop before its next entry; the first reason given is kept.
  void Stop(StopReason reason);
  bool Stopped() const { return stop_.load(std::memory_order_relaxed) != StopReason::kNone; }
  StopReason Reason() const { return stop_.load(); }

 private:
  std::size_t rangeCount_;
  std::atomic<std::size_t> next_{0};
  std::atomic<StopReason> stop_{StopReason::kNone};
};

}  // namespace zipdrop
