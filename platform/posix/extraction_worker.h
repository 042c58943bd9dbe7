// One of the workers that extract an archive's entries in parallel. Each has its own libarchive
// reader over the shared archive descriptor (read with pread only), since a reader must never be
// used by two threads, and takes ranges of entries from a shared queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/central_directory.h"
#include "platform/posix/entry_writer.h"
#include "platform/posix/extraction_plan.h"
#include "platform/posix/extraction_progress.h"
#include "platform/posix/zip_extractor.h"

namespace zipdrop {

/// What the extraction of one range did.
struct RangeOutcome {
  ExtractionReport report;
  std::size_t notAttemptedFrom = 0;  // The range's first entry not attempted; its end when all
                                     // were. Set by the worker that claimed the range.
};

/// What the workers of one extraction share. Each range's outcome is written only by the worker
/// that claimed the range.
struct SharedExtraction {
  int archiveFd;
  const CentralDirectory& directory;
  int destinationFd;
  std::vector<EntryRange> ranges;
  std::vector<RangeOutcome> outcomes;
  RangeQueue queue;
  std::uint64_t inMemoryLimit;
  MadeFolders madeFolders;
  ExtractionProgress* progress;  // May be null.
};

class ArchiveReader;

/// Extracts the ranges it claims from the queue, in order, until none is left or the queue stops.
/// The reader must have been made on the calling thread, over shared.archiveFd.
/// The folders it made are added to `folders`, to be finished once every worker has: writing into
/// a folder moves its time, and any worker may still write into it.
void RunWorker(SharedExtraction& shared, ArchiveReader& reader, std::vector<FolderFinish>& folders);

}  // namespace zipdrop
