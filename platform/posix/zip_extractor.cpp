#include "platform/posix/zip_extractor.h"

#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/platform_services.h"
#include "platform/posix/archive_reader.h"
#include "platform/posix/beneath.h"
#include "platform/posix/central_directory.h"
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
  const CentralDirectory& directory;
  std::size_t nextEntry;  // The central entry that libarchive's next entry pairs with.
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
    case NameProblem::kUnusable:
      return SkipReason::kUnusableName;
    case NameProblem::kNone:
      return std::nullopt;
  }
  return std::nullopt;
}

// Unix hosts store a full st_mode; every other host leaves the permissions to the extractor, and
// like the Windows shell we then let the user's umask alone decide.
mode_t PermissionsOf(const EntryHeader& header, const CentralEntry& entry) {
  if (entry.HasUnixMode()) return header.permissions;
  return header.type == AE_IFDIR ? 0777 : 0666;
}

// Writes the entry whose header was just read; returns the reason when it was skipped.
std::optional<SkipReason> WriteEntry(Run& run, const EntryHeader& header,
                                     const CentralEntry& entry, const EntryPath& path) {
  if (entry.localNameDiffers) return SkipReason::kNamesDisagree;
  // libarchive hands names over as C strings, so it would cut this one short at the NUL.
  if (run.directory.NameOf(entry).find('\0') != std::string_view::npos) {
    return SkipReason::kUnusableName;
  }
  if (auto reason = ReasonFromHeader(header)) return reason;
  // A folder entry "./" names the destination itself, which exists: nothing is left to do.
  if (header.type == AE_IFDIR && path.problem == NameProblem::kEmpty) return std::nullopt;
  if (auto reason = ReasonFromName(path)) return reason;
  run.folderTimes.ApplyUntilInside(path.Joined());
  mode_t permissions = PermissionsOf(header, entry);
  if (header.type == AE_IFDIR) {
    bool created = false;
    auto reason = WriteFolderEntry(run.destinationFd, path, permissions, created);
    if (created) {
      ++run.report.foldersCreated;
      if (header.mtime) run.folderTimes.Add(path.Joined(), *header.mtime);
    }
    return reason;
  }
  EntryAttributes attributes{permissions, header.mtime, entry.uncompressedSize};
  auto reason = WriteFileEntry(run.destinationFd, path, attributes, run.reader, run.buffer);
  if (!reason) ++run.report.filesWritten;
  return reason;
}

bool IsSlash(char c) { return c == '/' || c == '\\'; }

// Whether libarchive's name is the central directory's, give or take what libarchive changes: it
// turns the backslashes of names made on Windows into slashes and adds a slash to folders.
bool IsSameEntryName(std::string_view fromReader, std::string_view central) {
  while (!fromReader.empty() && IsSlash(fromReader.back())) fromReader.remove_suffix(1);
  while (!central.empty() && IsSlash(central.back())) central.remove_suffix(1);
  return std::equal(fromReader.begin(), fromReader.end(), central.begin(), central.end(),
                    [](char a, char b) { return a == b || (IsSlash(a) && IsSlash(b)); });
}

// libarchive's entries come in local-header-offset order, as the pre-scan sorted them; the names
// confirm the pairing where they can. A Unicode path field renames the entry, and an entry whose
// local name differs is skipped anyway. libarchive cuts a name at a NUL byte.
bool IsPairedWith(const Run& run, const EntryHeader& header, const CentralEntry& entry) {
  if (entry.localNameDiffers || entry.hasUnicodePath) return true;
  std::string_view name = run.directory.NameOf(entry);
  return IsSameEntryName(header.rawName, name.substr(0, name.find('\0')));
}

// Once the disk is full, later entries are not attempted: each would fail the same way, and a
// disk kept full by us hurts everything else the user runs. They are all counted as not extracted.
void SkipTheRest(Run& run, const std::string& name) {
  run.report.Skip(SkipReason::kDiskFull, name);
  const std::vector<CentralEntry>& entries = run.directory.entries;
  for (std::size_t i = run.nextEntry; i < entries.size(); ++i) {
    bool named = run.report.SkippedFor(SkipReason::kDiskFull) < kNamesKept;
    run.report.Skip(SkipReason::kDiskFull,
                    named ? DecodeEntryName(run.directory.NameOf(entries[i])) : "");
  }
}

// Extracts or skips the next entry; false once the walk is over, at the end or where the archive
// cannot be read (or trusted) any further.
bool ExtractNextEntry(Run& run, EntryHeader& header) {
  ReadStatus status = run.reader.NextEntry(header);
  bool allPaired = run.nextEntry == run.directory.entries.size();
  if (status == ReadStatus::kEnd && allPaired) return false;
  if (status == ReadStatus::kEnd || status == ReadStatus::kDamaged || allPaired) {
    run.report.Skip(SkipReason::kArchiveDamaged, "");
    return false;
  }
  const CentralEntry& entry = run.directory.entries[run.nextEntry++];
  std::string name = DecodeEntryName(header.rawName);
  std::optional<SkipReason> reason = SkipReason::kBadHeader;
  if (status == ReadStatus::kEntry) {
    if (!IsPairedWith(run, header, entry)) {
      run.report.Skip(SkipReason::kArchiveDamaged, name);
      return false;
    }
    reason = WriteEntry(run, header, entry, SplitEntryPath(name));
  }
  if (reason == SkipReason::kDiskFull) return SkipTheRest(run, name), false;
  if (reason) run.report.Skip(*reason, name);
  if (!run.reader.Damaged()) return true;
  run.report.Skip(SkipReason::kArchiveDamaged, "");
  return false;
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
                                   const std::string& destinationFolder) {
  UniqueFd destination(open(destinationFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!destination.Valid()) {
    ThrowSystemError("cannot open the destination folder " + destinationFolder);
  }
  UniqueFd archiveFd = OpenArchive(archivePath);
  CentralDirectory directory = ReadCentralDirectory(archiveFd.Get());
  ExtractionReport report;
  report.refusal = CheckBeforeWriting(archiveFd.Get(), directory, destination.Get());
  if (report.refusal || directory.entries.empty()) return report;
  ArchiveReader reader(archiveFd.Get(), directory.prefixLength, directory.ArchiveEnd());
  std::vector<char> buffer(kBlockSize);
  PendingFolderTimes folderTimes(destination.Get());
  Run run{directory, 0, reader, destination.Get(), report, folderTimes, buffer};
  EntryHeader header;
  while (ExtractNextEntry(run, header)) {
  }
  return report;
}

}  // namespace zipdrop
