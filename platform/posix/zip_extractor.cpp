#include "platform/posix/zip_extractor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "platform/platform_services.h"
#include "platform/posix/archive_reader.h"
#include "platform/posix/beneath.h"
#include "platform/posix/central_directory.h"
#include "platform/posix/entry_names.h"
#include "platform/posix/entry_writer.h"
#include "platform/posix/extraction_plan.h"
#include "platform/posix/extraction_progress.h"
#include "platform/posix/extraction_worker.h"
#include "platform/posix/interrupt_watch.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/process_spawn.h"

namespace zipdrop {

namespace {

// Enough names for a report that lists what was left out; the rest are counted.
constexpr std::size_t kNamesKept = 20;

// Adds what one range skipped to the whole report. Ranges are merged in the order of the
// entries, so the names kept are the first ones, as a single pass would have kept them.
void MergeSkipped(ExtractionReport& into, const ExtractionReport::Skipped& skipped) {
  auto found = std::find_if(into.skipped.begin(), into.skipped.end(),
                            [&](const auto& s) { return s.reason == skipped.reason; });
  if (found == into.skipped.end()) {
    found = into.skipped.insert(into.skipped.end(), {skipped.reason, 0, {}});
  }
  found->count += skipped.count;
  for (const std::string& name : skipped.names) {
    if (found->names.size() < kNamesKept) found->names.push_back(name);
  }
}

// After a full disk or damage stopped the work, every entry not attempted is counted as not
// extracted, and named while the list has room.
void CountNotAttempted(const SharedExtraction& shared, SkipReason reason,
                       ExtractionReport& report) {
  for (std::size_t k = 0; k < shared.ranges.size(); ++k) {
    for (std::size_t i = shared.outcomes[k].notAttemptedFrom; i < shared.ranges[k].end; ++i) {
      bool named = report.SkippedFor(reason) < kNamesKept;
      const CentralEntry& entry = shared.directory.entries[i];
      report.Skip(reason, named ? DecodeEntryName(shared.directory.NameOf(entry)) : "");
    }
  }
}

ExtractionReport MergeOutcomes(const SharedExtraction& shared) {
  ExtractionReport report;
  for (const RangeOutcome& outcome : shared.outcomes) {
    report.filesWritten += outcome.report.filesWritten;
    report.foldersCreated += outcome.report.foldersCreated;
    for (const auto& skipped : outcome.report.skipped) MergeSkipped(report, skipped);
  }
  if (shared.queue.Reason() == StopReason::kDiskFull) {
    CountNotAttempted(shared, SkipReason::kDiskFull, report);
  }
  if (shared.queue.Reason() == StopReason::kDamaged) {
    CountNotAttempted(shared, SkipReason::kArchiveDamaged, report);
  }
  return report;
}

// Runs the extra workers on threads of their own, each with its own reader, and the first one on
// this thread with the reader already made here. An exception in a worker is carried over to this
// thread once all have finished.
void RunWorkers(SharedExtraction& shared, ArchiveReader& reader,
                std::vector<std::vector<FolderFinish>>& times) {
  std::vector<std::exception_ptr> failures(times.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t w = 1; w < times.size(); ++w) {
      threads.emplace_back([&, w] {
        try {
          ArchiveReader own(shared.archiveFd, shared.directory.prefixLength,
                            shared.directory.ArchiveEnd());
          RunWorker(shared, own, times[w]);
        } catch (...) {
          failures[w] = std::current_exception();
          shared.queue.Stop(StopReason::kDamaged);
        }
      });
    }
    RunWorker(shared, reader, times[0]);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

// Folder times and modes are set last, once nothing more is written into any folder.
void FinishAllFolders(int destinationFd, std::vector<std::vector<FolderFinish>>& made) {
  std::vector<FolderFinish> all;
  for (std::vector<FolderFinish>& list : made) {
    all.insert(all.end(), std::make_move_iterator(list.begin()), std::make_move_iterator(list.end()));
  }
  FinishFolders(destinationFd, std::move(all));
}

std::size_t ChooseWorkers(const CentralDirectory& directory, const ExtractionTuning& tuning) {
  if (tuning.workers > 0) return tuning.workers;
  return WorkersFor(directory.entries, std::max(1u, std::thread::hardware_concurrency()));
}

// The whole archive is refused, before anything is written, when its layout is a bomb's or its
// declared sizes cannot fit: a partial extraction of either would only fill the disk.
std::optional<Refusal> CheckBeforeWriting(int archiveFd, CentralDirectory& directory,
                                          int destinationFd) {
  switch (CheckEntryLayout(archiveFd, directory)) {
    case LayoutProblem::kOverlap:
      return Refusal{RefusalReason::kOverlappingEntries};
    case LayoutProblem::kMissingLocalHeader:
      return Refusal{RefusalReason::kMissingLocalHeader};
    case LayoutProblem::kNone:
      break;
  }
  struct statvfs space;
  // Some file systems (FUSE ones among them) report no sizes at all; nothing can be judged then.
  if (fstatvfs(destinationFd, &space) != 0 || space.f_blocks == 0) return std::nullopt;
  std::uint64_t available = space.f_bavail;
  std::uint64_t blockSize = space.f_frsize;
  std::uint64_t free = available > UINT64_MAX / blockSize ? UINT64_MAX : available * blockSize;
  std::uint64_t needed = directory.DeclaredTotalSize();
  if (needed > free) return Refusal{RefusalReason::kNotEnoughSpace, needed, free};
  return std::nullopt;
}

// Opens the archive for reading. O_NONBLOCK keeps a FIFO put in its place from hanging the open.
UniqueFd OpenArchive(const std::string& archivePath) {
  UniqueFd fd(open(archivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) ThrowSystemError("cannot open the ZIP archive " + archivePath);
  struct stat status;
  if (fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    throw PlatformError(archivePath + " is not a regular file");
  }
  return fd;
}

bool IsRegularFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

void ExtractionReport::Skip(SkipReason reason, const std::string& name) {
  auto found = std::find_if(skipped.begin(), skipped.end(),
                            [&](const Skipped& s) { return s.reason == reason; });
  if (found == skipped.end()) found = skipped.insert(skipped.end(), Skipped{reason, 0, {}});
  ++found->count;
  if (found->names.size() < kNamesKept && !name.empty()) {
    found->names.push_back(PrintableName(name));
  }
}

std::uint64_t ExtractionReport::SkippedFor(SkipReason reason) const {
  for (const Skipped& s : skipped) {
    if (s.reason == reason) return s.count;
  }
  return 0;
}

bool IsZipArchive(const std::string& archivePath) {
  if (!IsRegularFile(archivePath)) return false;
  try {
    UniqueFd archiveFd = OpenArchive(archivePath);
    CentralDirectory directory = ReadCentralDirectory(archiveFd.Get());
    if (directory.entries.empty()) return true;
    ArchiveReader reader(archiveFd.Get(), directory.prefixLength, directory.ArchiveEnd());
    EntryHeader header;
    return reader.NextEntry(header) != ReadStatus::kDamaged;
  } catch (const PlatformError&) {
    return false;
  }
}

ExtractionReport ExtractZipArchive(const std::string& archivePath,
                                   const std::string& destinationFolder,
                                   const ExtractionTuning& tuning) {
  UniqueFd destination(open(destinationFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!destination.Valid()) {
    ThrowSystemError("cannot open the destination folder " + destinationFolder);
  }
  UniqueFd archiveFd = OpenArchive(archivePath);
  CentralDirectory directory = ReadCentralDirectory(archiveFd.Get());
  ExtractionReport refused;
  refused.refusal = CheckBeforeWriting(archiveFd.Get(), directory, destination.Get());
  if (refused.refusal || directory.entries.empty()) return refused;
  if (tuning.progress) tuning.progress->SetDeclaredTotal(directory.DeclaredTotalSize());
  // libarchive turns each entry's DOS time into a time_t with mktime, on every worker at once.
  PinDefaultTimeZone();
  ArchiveReader reader(archiveFd.Get(), directory.prefixLength, directory.ArchiveEnd());
  std::size_t workers = ChooseWorkers(directory, tuning);
  std::vector<EntryRange> ranges = PlanRanges(directory.entries, workers);
  SharedExtraction shared{archiveFd.Get(), directory,           destination.Get(),
                          ranges,          {},                  RangeQueue(ranges.size()),
                          tuning.inMemoryLimit,
                          {},              tuning.progress};
  shared.outcomes.resize(ranges.size());
  for (std::size_t k = 0; k < ranges.size(); ++k) shared.outcomes[k].notAttemptedFrom = ranges[k].begin;
  std::vector<std::vector<FolderFinish>> folders(workers);
  {
    InterruptWatch interrupts([&shared] { shared.queue.Stop(StopReason::kInterrupted); });
    RunWorkers(shared, reader, folders);
    // Every temporary file is gone by now: the workers dropped theirs as they stopped.
    interrupts.EndIfInterrupted();
  }
  FinishAllFolders(destination.Get(), folders);
  return MergeOutcomes(shared);
}

}  // namespace zipdrop
