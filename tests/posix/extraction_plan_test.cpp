#include "platform/posix/extractor/extraction_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

namespace zipdrop {
namespace {

// Entries of the given uncompressed sizes, deflated.
std::vector<CentralEntry> Entries(const std::vector<std::uint64_t>& sizes) {
  std::vector<CentralEntry> entries;
  for (std::uint64_t size : sizes) {
    entries.push_back({.compressedSize = size / 3, .uncompressedSize = size, .method = 8});
  }
  return entries;
}

struct PlanCase {
  const char* label;
  std::vector<std::uint64_t> sizes;
  std::size_t workers;
};

class PlanRangesTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanRangesTest, CoversEveryEntryOnceInOrderWithEvenShares) {
  std::vector<CentralEntry> entries = Entries(GetParam().sizes);
  std::vector<EntryRange> ranges = PlanRanges(entries, GetParam().workers);
  ASSERT_FALSE(ranges.empty());
  std::size_t next = 0;
  std::uint64_t total = 0, largest = 0;
  for (const CentralEntry& entry : entries) {
    total += EstimatedCost(entry);
    largest = std::max(largest, EstimatedCost(entry));
  }
  std::uint64_t share = total / std::max<std::size_t>(1, ranges.size());
  for (const EntryRange& range : ranges) {
    EXPECT_EQ(range.begin, next);
    EXPECT_LT(range.begin, range.end);
    next = range.end;
    std::uint64_t cost = 0;
    for (std::size_t i = range.begin; i < range.end; ++i) cost += EstimatedCost(entries[i]);
    // No range is much more than an equal share, give or take its one largest entry.
    EXPECT_LE(cost, 2 * share + largest) << range.begin << ".." << range.end;
  }
  EXPECT_EQ(next, entries.size());
  if (GetParam().workers == 1) {
    EXPECT_EQ(ranges.size(), 1u);
  } else if (entries.size() >= 64) {
    EXPECT_GE(ranges.size(), GetParam().workers);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, PlanRangesTest,
    ::testing::Values(
        PlanCase{"OneWorker", std::vector<std::uint64_t>(50, 1000), 1},
        PlanCase{"ManySmall", std::vector<std::uint64_t>(10000, 9000), 2},
        PlanCase{"FewLarge", {160u << 20, 120u << 20, 100u << 20, 120u << 20}, 2},
        PlanCase{"OneEntry", {5u << 20}, 4},
        PlanCase{"OneHugeAmongSmall", {10, 10, 10, std::uint64_t{1} << 50, 10, 10, 10, 10}, 3},
        PlanCase{"EmptyFiles", std::vector<std::uint64_t>(300, 0), 8}),
    [](const auto& info) { return info.param.label; });

TEST(PlanRangesTest, NoEntriesGiveNoRanges) { EXPECT_TRUE(PlanRanges({}, 2).empty()); }

struct WorkersCase {
  const char* label;
  std::vector<std::uint64_t> sizes;
  std::size_t cores;
  std::size_t expected;
};

class WorkersForTest : public ::testing::TestWithParam<WorkersCase> {};

TEST_P(WorkersForTest, UsesTheCoresOnlyWhenTheArchiveIsWorthIt) {
  EXPECT_EQ(WorkersFor(Entries(GetParam().sizes), GetParam().cores), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Archives, WorkersForTest,
    ::testing::Values(WorkersCase{"Small", {100, 200, 300}, 4, 1},
                      WorkersCase{"OneCore", std::vector<std::uint64_t>(1000, 1u << 20), 1, 1},
                      WorkersCase{"Large", std::vector<std::uint64_t>(1000, 1u << 20), 2, 2},
                      WorkersCase{"FewerEntriesThanCores", {400u << 20, 400u << 20}, 16, 2},
                      WorkersCase{"SingleLargeEntry", {1u << 30}, 2, 1},
                      WorkersCase{"ManyCores", std::vector<std::uint64_t>(1000, 1u << 20), 64, 8},
                      // The workers share one directory: many entries cost no worker.
                      WorkersCase{"ManyEntries", std::vector<std::uint64_t>(60000, 1000), 8, 8},
                      WorkersCase{"ManyEntriesOnTwoCores", std::vector<std::uint64_t>(100000, 1000),
                                  2, 2}),
    [](const auto& info) { return info.param.label; });

TEST(RangeQueueTest, HandsOutEachRangeExactlyOnceAcrossThreads) {
  constexpr std::size_t kRanges = 5000;
  RangeQueue queue(kRanges);
  std::vector<std::vector<std::size_t>> claimed(4);
  {
    std::vector<std::jthread> threads;
    for (auto& mine : claimed) {
      threads.emplace_back([&queue, &mine] {
        while (auto index = queue.Claim()) mine.push_back(*index);
      });
    }
  }
  std::set<std::size_t> all;
  for (const auto& mine : claimed) {
    EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));  // Each reader only moves forward.
    all.insert(mine.begin(), mine.end());
  }
  std::size_t total = 0;
  for (const auto& mine : claimed) total += mine.size();
  EXPECT_EQ(total, kRanges);
  EXPECT_EQ(all.size(), kRanges);
}

TEST(RangeQueueTest, StopsClaimsAndKeepsTheFirstReason) {
  RangeQueue queue(10);
  EXPECT_EQ(queue.Claim(), 0u);
  EXPECT_FALSE(queue.Stopped());
  queue.Stop(StopReason::kDiskFull);
  queue.Stop(StopReason::kFailed);
  EXPECT_TRUE(queue.Stopped());
  EXPECT_EQ(queue.Reason(), StopReason::kDiskFull);
  EXPECT_EQ(queue.Claim(), std::nullopt);
}

}  // namespace
}  // namespace zipdrop
