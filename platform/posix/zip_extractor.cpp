#include "platform/posix/zip_extractor.h"

#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/platform_services.h"
#include "platform/posix/archive_reader.h"
#include "platform/posix/beneath.h"
#include "platform/posix/entry_names.h"
#include "platform/posix/entry_writer.h"
#include "platform/posix/posix_error.h"

namespace zipdrop {

namespace {

constexpr std::size_t kNamesKept = 3;
constexpr std::size_t kBlockSize = 256 * 1024;

// Folders made by this run whose time waits until their content is written, since writing into
// a folder moves its time. Entries usually come folder by folder, so a stack as deep as the
// nesting suffices and memory stays bounded whatever the number of entries.
class PendingFolderTimes {
 public:
  explicit PendingFolderTimes(int destinationFd) : destinationFd_(destinationFd) {}
  PendingFolderTimes(const PendingFolderTimes&) = delete;
  PendingFolderTimes& operator=(const PendingFolderTimes&) = delete;
  ~PendingFolderTimes() { ApplyUntilInside(""); }

  void Add(const std::string& path, const timespec& mtime) { stack_.push_back({path, mtime}); }

  // Applies the times of the folders that the next entry's path no longer lies in.
  void ApplyUntilInside(const std::string& nextPath) {
    while (!stack_.empty() && !nextPath.starts_with(stack_.back().path + "/")) {
      SetFolderTime(destinationFd_, stack_.back().path, stack_.back().mtime);
      stack_.pop_back();
    }
  }

 private:
  struct Pending {
    std::string path;
    timespec mtime;
  };
  int destinationFd_;
  std::vector<Pending> stack_;
};

// Everything one extraction run carries from entry to entry.
struct Run {
  ArchiveReader& reader;
  int destinationFd;
  ExtractionReport& report;
  PendingFolderTimes& folderTimes;
  std::vector<char>& buffer;
};

// The reason a header alone rules the entry out, before its name is looked at.
std::optional<SkipReason> ReasonFromHeader(const EntryHeader& header) {
  if (header.isHardlink || header.type == AE_IFLNK) return SkipReason::kLink;
  if (header.type != AE_IFREG && header.type != AE_IFDIR) return SkipReason::kSpecialFile;
  if (header.isEncrypted) return SkipReason::kEncrypted;
  return std::nullopt;
}

std::optional<SkipReason> ReasonFromName(const EntryPath& path) {
  switch (path.problem) {
    case NameProblem::kLeavesFolder:
      return SkipReason::kLeavesFolder;
    case NameProblem::kEmpty:
      return SkipReason::kEmptyName;
    case NameProblem::kNone:
      return std::nullopt;
  }
  return std::nullopt;
}

// Writes the entry whose header was just read; returns the reason when it was skipped.
std::optional<SkipReason> WriteEntry(Run& run, const EntryHeader& header, const EntryPath& path) {
  if (auto reason = ReasonFromHeader(header)) return reason;
  // A folder entry "./" names the destination itself, which exists: nothing is left to do.
  if (header.type == AE_IFDIR && path.problem == NameProblem::kEmpty) return std::nullopt;
  if (auto reason = ReasonFromName(path)) return reason;
  run.folderTimes.ApplyUntilInside(path.Joined());
  if (header.type == AE_IFDIR) {
    bool created = false;
    auto reason = WriteFolderEntry(run.destinationFd, path, header.permissions, created);
    if (created) {
      ++run.report.foldersCreated;
      if (header.mtime) run.folderTimes.Add(path.Joined(), *header.mtime);
    }
    return reason;
  }
  EntryAttributes attributes{header.permissions, header.mtime, header.declaredSize};
  auto reason = WriteFileEntry(run.destinationFd, path, attributes, run.reader, run.buffer);
  if (!reason) ++run.report.filesWritten;
  return reason;
}

void ExtractEntries(Run& run) {
  EntryHeader header;
  for (;;) {
    ReadStatus status = run.reader.NextEntry(header);
    if (status == ReadStatus::kEnd) return;
    if (status == ReadStatus::kDamaged) {
      run.report.Skip(SkipReason::kArchiveDamaged, "");
      return;
    }
    std::string name = DecodeEntryName(header.rawName);
    std::optional<SkipReason> reason = SkipReason::kBadHeader;
    if (status == ReadStatus::kEntry) reason = WriteEntry(run, header, SplitEntryPath(name));
    if (reason) run.report.Skip(*reason, name);
    if (run.reader.Damaged()) {
      run.report.Skip(SkipReason::kArchiveDamaged, "");
      return;
    }
  }
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
    ArchiveReader reader(archivePath);
    EntryHeader header;
    ReadStatus status = reader.NextEntry(header);
    return status != ReadStatus::kDamaged;
  } catch (const PlatformError&) {
    return IsEmptyZipArchive(archivePath);
  }
}

ExtractionReport ExtractZipArchive(const std::string& archivePath,
                                   const std::string& destinationFolder) {
  UniqueFd destination(open(destinationFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!destination.Valid()) {
    ThrowSystemError("cannot open the destination folder " + destinationFolder);
  }
  ExtractionReport report;
  std::optional<ArchiveReader> reader;
  try {
    reader.emplace(archivePath);
  } catch (const PlatformError&) {
    if (IsRegularFile(archivePath) && IsEmptyZipArchive(archivePath)) return report;
    throw;
  }
  std::vector<char> buffer(kBlockSize);
  PendingFolderTimes folderTimes(destination.Get());
  Run run{*reader, destination.Get(), report, folderTimes, buffer};
  ExtractEntries(run);
  return report;
}

}  // namespace zipdrop
