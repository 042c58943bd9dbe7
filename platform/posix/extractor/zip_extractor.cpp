#include "zipdrop/extractor/zip_extractor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/clash_scan.h"
#include "platform/posix/extractor/entry_kind.h"
#include "platform/posix/extractor/entry_layout.h"
#include "platform/posix/extractor/entry_names.h"
#include "platform/posix/extractor/entry_plan.h"
#include "platform/posix/extractor/entry_writer.h"
#include "platform/posix/extractor/extraction_plan.h"
#include "platform/posix/extractor/extraction_worker.h"
#include "platform/posix/extractor/passwords.h"
#include "platform/posix/extractor/usable_cores.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/unique_fd.h"
#include "zipdrop/extractor/extraction_progress.h"
#include "zipdrop/extractor/extractor_error.h"

namespace zipdrop {

namespace {

// After a full disk stopped the work, every entry not attempted is counted as not extracted, by
// its name.
void CountNotAttempted(const SharedExtraction& shared, ExtractionReport& report) {
  for (std::size_t k = 0; k < shared.ranges.size(); ++k) {
    for (std::size_t i = shared.outcomes[k].notAttemptedFrom; i < shared.ranges[k].end; ++i) {
      report.Skip(SkipReason::kDiskFull, shared.plan[i].name);
    }
  }
}

// Ranges are merged in the order of the entries, so the names come in the order a single pass
// would have met them.
ExtractionReport MergeOutcomes(const SharedExtraction& shared) {
  ExtractionReport report;
  for (const RangeOutcome& outcome : shared.outcomes) report.Merge(outcome.report);
  if (shared.queue.Reason() == StopReason::kDiskFull) {
    CountNotAttempted(shared, report);
  }
  return report;
}

// Entries lost with the damaged part of an archive are counted one by one, named where their
// names could be read; where the archive broke off, more may have followed, and the count says
// it is only the least number.
void ReportDamage(const CentralDirectory& directory, ExtractionReport& report) {
  for (const std::string& name : directory.lostNames) {
    report.Skip(SkipReason::kArchiveDamaged, DecodeEntryName(name));
  }
  if (directory.damaged) report.MarkMoreMayBeLost(SkipReason::kArchiveDamaged);
}

// Runs the extra workers on threads of their own and the first one on this thread. An exception
// in any worker stops the others before their next entry, and is carried over to this thread once
// all have finished.
void RunWorkers(SharedExtraction& shared, std::vector<std::vector<FolderFinish>>& times) {
  std::vector<std::exception_ptr> failures(times.size());
  auto run = [&](std::size_t w) {
    try {
      RunWorker(shared, times[w]);
    } catch (...) {
      failures[w] = std::current_exception();
      shared.queue.Stop(StopReason::kFailed);
    }
  };
  {
    std::vector<std::jthread> threads;
    for (std::size_t w = 1; w < times.size(); ++w) threads.emplace_back(run, w);
    run(0);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

// Folder times and modes are set last, once nothing more is written into any folder.
void FinishAllFolders(int destinationFd, std::vector<std::vector<FolderFinish>>& made) {
  std::vector<FolderFinish> all;
  for (std::vector<FolderFinish>& list : made) {
    all.insert(all.end(), std::make_move_iterator(list.begin()),
               std::make_move_iterator(list.end()));
  }
  FinishFolders(destinationFd, std::move(all));
}

// The password is asked for once, before anything is extracted, as soon as the archive is known
// to hold an encrypted file that will be written; the first few such files judge it.
void AskFirstPassword(int archiveFd, const CentralDirectory& directory,
                      const std::vector<PlannedEntry>& plan, PasswordKeeper& passwords) {
  std::vector<NamedEncryptedEntry> sample;
  for (std::size_t i = 0; i < plan.size() && sample.size() < PasswordKeeper::kSampled; ++i) {
    const CentralEntry& entry = directory.entries[i];
    if (!entry.IsEncrypted() || plan[i].step != EntryStep::kWrite ||
        plan[i].kind != EntryKind::kFile) {
      continue;
    }
    std::optional<EncryptedEntry> encrypted = ReadEncryptedEntry(archiveFd, entry);
    if (encrypted) sample.push_back({std::move(*encrypted), plan[i].name});
  }
  passwords.AskFirst(sample);
}

// The files no answer replaces: those the caller named, and the archive being read, which an
// entry of the same name would otherwise overwrite while it is still read.
NeverReplaced KeptFiles(int archiveFd, NeverReplaced kept) {
  struct stat archive;
  if (fstat(archiveFd, &archive) == 0) kept.files.push_back({archive.st_dev, archive.st_ino});
  return kept;
}

std::size_t ChooseWorkers(const CentralDirectory& directory, const ExtractionTuning& tuning,
                          std::size_t cores) {
  if (tuning.workers > 0) return tuning.workers;
  return WorkersFor(directory.entries, cores);
}

std::optional<Refusal> CheckFreeSpace(const CentralDirectory& directory, int destinationFd) {
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
  return CheckFreeSpace(directory, destinationFd);
}

[[noreturn]] void ThrowOpenError(const std::string& action) {
  throw ExtractorError(action + ": " + DescribeSystemError(errno));
}

// Opens the archive for reading. O_NONBLOCK keeps a FIFO put in its place from hanging the open.
UniqueFd OpenArchive(const std::string& archivePath) {
  UniqueFd fd(open(archivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) ThrowOpenError("cannot open the ZIP archive " + archivePath);
  struct stat status;
  if (fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    throw ExtractorError(archivePath + " is not a regular file");
  }
  return fd;
}

bool IsRegularFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

struct ZipArchive::Opened {
  explicit Opened(const std::string& archivePath)
      : fd(OpenArchive(archivePath)), directory(ReadCentralDirectory(fd.Get())) {}
  UniqueFd fd;
  CentralDirectory directory;
};

ZipArchive::ZipArchive(const std::string& archivePath)
    : opened_(std::make_unique<Opened>(archivePath)) {}
ZipArchive::ZipArchive(ZipArchive&&) noexcept = default;
ZipArchive& ZipArchive::operator=(ZipArchive&&) noexcept = default;
ZipArchive::~ZipArchive() = default;

std::optional<ZipArchive> OpenZipArchive(const std::string& archivePath) {
  if (!IsRegularFile(archivePath)) return std::nullopt;
  try {
    return ZipArchive(archivePath);
  } catch (const ExtractorError&) {
    return std::nullopt;
  }
}

ExtractionReport ExtractZipArchive(const std::string& archivePath,
                                   const std::string& destinationFolder,
                                   const ExtractionTuning& tuning) {
  return ExtractZipArchive(ZipArchive(archivePath), destinationFolder, tuning);
}

// The archive's directory is copied, not read again: the layout check fills in where each
// entry's data starts, and the same opened archive may be extracted more than once.
ExtractionReport ExtractZipArchive(const ZipArchive& archive, const std::string& destinationFolder,
                                   const ExtractionTuning& tuning) {
  UniqueFd destination(open(destinationFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!destination.Valid()) {
    ThrowOpenError("cannot open the destination folder " + destinationFolder);
  }
  const UniqueFd& archiveFd = archive.opened_->fd;
  CentralDirectory directory = archive.opened_->directory;
  ExtractionReport refused;
  refused.refusal = CheckBeforeWriting(archiveFd.Get(), directory, destination.Get());
  if (refused.refusal) return refused;
  if (tuning.progress) tuning.progress->SetDeclaredTotal(directory.DeclaredTotalSize());
  std::vector<PlannedEntry> plan = PlanEntries(directory);
  if (DecideClashes(plan, destination.Get(), tuning.clashes,
                    KeptFiles(archiveFd.Get(), tuning.neverReplaced)) == ClashOutcome::kCancelled) {
    if (tuning.progress) tuning.progress->Cancel();
    return {};
  }
  PasswordKeeper passwords(archiveFd.Get(), tuning.passwords);
  AskFirstPassword(archiveFd.Get(), directory, plan, passwords);
  std::size_t cores = UsableCores();
  std::size_t workers = ChooseWorkers(directory, tuning, cores);
  SharedExtraction shared({.archiveFd = archiveFd.Get(),
                           .directory = directory,
                           .plan = plan,
                           .destinationFd = destination.Get(),
                           .ranges = PlanRanges(directory.entries, workers),
                           .workers = workers,
                           .cores = cores,
                           .inMemoryLimit = tuning.inMemoryLimit,
                           .readAheadSize = tuning.readAheadSize,
                           .progress = tuning.progress,
                           .passwords = tuning.passwords ? &passwords : nullptr});
  std::vector<std::vector<FolderFinish>> folders(workers);
  RunWorkers(shared, folders);
  FinishAllFolders(destination.Get(), folders);
  ExtractionReport report = MergeOutcomes(shared);
  ReportDamage(directory, report);
  return report;
}

}  // namespace zipdrop
