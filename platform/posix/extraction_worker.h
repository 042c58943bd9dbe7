// One of the workers that extract an archive's entries in parallel. Each has its own libarchive
// reader over the shared archive descriptor (read with pread only), since a reader must never be
// used by two threads, and takes ranges of entries from a shared queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
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

/// A folder made by this run. Its time is set only once every worker has finished, because
/// writing into a folder moves its time and any worker may still write into it.
struct FolderTime {
  std::string path;
  timespec mtime;
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
void RunWorker(SharedExtraction& shared, ArchiveReader& reader, std::vector<FolderTime>& times);

}  // namespace zipdrop
