// One of the workers that extract an archive's entries in parallel. Each takes ranges of entries
// from a shared queue and reads their bytes with pread from the shared archive descriptor, with
// decoders and buffers of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/download_origin.h"
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

/// What the workers of one extraction share. Each range's outcome is written only by the worker
/// that claimed the range.
class SharedExtraction {
 public:
  SharedExtraction(int archiveFd, const CentralDirectory& directory, int destinationFd,
                   std::vector<EntryRange> ranges, std::uint64_t inMemoryLimit,
                   std::uint64_t readAheadSize, ExtractionProgress* progress,
                   PasswordKeeper* passwords, std::vector<bool> replace);

  const int archiveFd;
  const CentralDirectory& directory;
  const int destinationFd;
  const std::vector<EntryRange> ranges;
  std::vector<RangeOutcome> outcomes;  // One per range.
  RangeQueue queue;
  const std::uint64_t inMemoryLimit;
  const std::uint64_t readAheadSize;  // Streamed entries this large take a second thread.
  MadeFolders madeFolders;
  ExtractionProgress* progress;  // May be null.
  PasswordKeeper* passwords;     // May be null: encrypted entries are then skipped.
  const DownloadOrigin origin;   // Read once from the archive, marked on every file written.
  const std::vector<bool> replace;  // Per entry: whether it may replace a regular file; empty
                                    // when none may.
};

/// Extracts the ranges it claims from the queue, in order, until none is left or the queue stops.
/// The folders it made are added to `folders`, to be finished once every worker has: writing into
/// a folder moves its time, and any worker may still write into it.
void RunWorker(SharedExtraction& shared, std::vector<FolderFinish>& folders);

}  // namespace zipdrop
