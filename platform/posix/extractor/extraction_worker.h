// One of the workers that extract an archive's entries in parallel. Each takes ranges of entries
// from a shared queue and reads their bytes with pread from the shared archive descriptor, with
// decoders and buffers of its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/download_origin.h"
#include "platform/posix/extractor/entry_plan.h"
#include "platform/posix/extractor/entry_writer.h"
#include "platform/posix/extractor/extraction_plan.h"
#include "zipdrop/extractor/extraction_progress.h"
#include "zipdrop/extractor/extraction_report.h"

namespace zipdrop {

class PasswordKeeper;

/// What the extraction of one range did.
struct RangeOutcome {
  ExtractionReport report;
  std::size_t notAttemptedFrom = 0;  // The range's first entry not attempted; its end when all
                                     // were. Set by the worker that claimed the range.
};

/// What an extraction gives its workers to share.
struct ExtractionSetup {
  int archiveFd;
  const CentralDirectory& directory;
  const std::vector<PlannedEntry>& plan;  // One per entry of the directory.
  int destinationFd;
  std::vector<EntryRange> ranges;
  std::size_t workers;  // How many workers take the ranges.
  std::size_t cores;    // How many cores the workers may use.
  std::uint64_t inMemoryLimit;
  std::uint64_t readAheadSize;
  ExtractionProgress* progress;
  PasswordKeeper* passwords;
};

/// What the workers of one extraction share. Each range's outcome is written only by the worker
/// that claimed the range.
class SharedExtraction {
 public:
  explicit SharedExtraction(ExtractionSetup setup);

  /// Whether a core has nothing to do: fewer workers are still at work than there are cores.
  /// A worker that has not started yet counts as at work, so this turns true only as workers end.
  bool CoreSpare() const { return working_.load(std::memory_order_relaxed) < cores_; }
  /// How many cores the workers may use.
  std::size_t Cores() const { return cores_; }
  /// Called once by each worker when it has no range left to take.
  void WorkerDone() { working_.fetch_sub(1, std::memory_order_relaxed); }

  const int archiveFd;
  const CentralDirectory& directory;
  const std::vector<PlannedEntry>& plan;  // What is done with each entry, and why.
  const int destinationFd;
  const std::vector<EntryRange> ranges;
  std::vector<RangeOutcome> outcomes;  // One per range.
  RangeQueue queue;
  const std::uint64_t inMemoryLimit;
  const std::uint64_t readAheadSize;  // Streamed entries this large may take a spare core.
  MadeFolders madeFolders;
  ExtractionProgress* progress;     // May be null.
  PasswordKeeper* passwords;        // May be null: encrypted entries are then skipped.
  const DownloadOrigin origin;      // Read once from the archive, marked on every file written.

 private:
  const std::size_t cores_;
  std::atomic<std::size_t> working_;
};

/// Extracts the ranges it claims from the queue, in order, until none is left or the queue stops.
/// The folders it made are added to `folders`, to be finished once every worker has: writing into
/// a folder moves its time, and any worker may still write into it.
void RunWorker(SharedExtraction& shared, std::vector<FolderFinish>& folders);

}  // namespace zipdrop
