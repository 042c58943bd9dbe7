#include "platform/posix/extractor/entry_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/extractor/beneath.h"
#include "platform/posix/fd_io.h"

namespace zipdrop {

namespace {

constexpr mode_t kImplicitFolderMode = 0777;

// Special bits are never carried over: a setuid program or a sticky folder arriving from an
// archive would hand privileges or semantics its sender chose.
mode_t PlainPermissions(mode_t permissions) { return permissions & 0777; }

// The reason for a failed open, create or write: a link or a file in the way, a full disk (or
// quota), or anything else the file system said.
SkipReason ReasonForPathError(int error) {
  switch (error) {
    case ELOOP:
    case ENOTDIR:
    case EXDEV:
    case EEXIST:
      return SkipReason::kBlockedPath;
    case ENOSPC:
    case EDQUOT:
      return SkipReason::kDiskFull;
    default:
      return SkipReason::kWriteFailed;
  }
}

// What opening the folders of a path gave: the last one, open, and whether it was made now; or
// why it could not be opened.
struct OpenedFolders {
  static OpenedFolders Failed(SkipReason reason) {
    OpenedFolders failed;
    failed.failure = reason;
    return failed;
  }

  std::optional<SkipReason> failure;
  UniqueFd folder;
  bool lastCreated = false;
};

// Whether the last folder of a path is the entry's own (a folder entry) or on the way to a file.
enum class LastFolder { kOwnEntry, kOnTheWay };

// Opens (creating where missing) the first `count` components of path as folders, one at a time,
// so that each one is checked to be a real folder inside the destination. Folders created on the
// way, without an entry of their own, go into made. Every folder is made 0777 under the umask: a
// folder entry takes its own mode only once its contents are written.
OpenedFolders OpenFolders(int destinationFd, const EntryPath& path, size_t count, MadeFolders& made,
                          LastFolder last) {
  OpenedFolders opened;
  // Most entries land in folders that exist already: one openat2 call checks the whole path.
  if (count > 0) {
    opened.folder = OpenBeneath(destinationFd, path.Joined(count), O_RDONLY | O_DIRECTORY);
    if (opened.folder.Valid()) return opened;
    if (errno != ENOENT) return OpenedFolders::Failed(ReasonForPathError(errno));
  }
  opened.folder = UniqueFd(fcntl(destinationFd, F_DUPFD_CLOEXEC, 0));
  if (!opened.folder.Valid()) return OpenedFolders::Failed(SkipReason::kWriteFailed);
  for (size_t i = 0; i < count; ++i) {
    UniqueFd child = OpenOrCreateFolder(opened.folder.Get(), path.components[i],
                                        kImplicitFolderMode, opened.lastCreated);
    if (!child.Valid()) return OpenedFolders::Failed(ReasonForPathError(errno));
    bool onTheWay = i + 1 < count || last == LastFolder::kOnTheWay;
    if (opened.lastCreated && onTheWay) made.Add(path.Joined(i + 1));
    opened.folder = std::move(child);
  }
  return opened;
}

// Writes all the bytes and counts those written.
std::optional<SkipReason> WriteCounted(int fd, const char* bytes, std::size_t count,
                                       ExtractionProgress* progress) {
  IoResult written = WriteAll(fd, bytes, count);
  if (progress) progress->AddWritten(written.count);
  if (written.error != 0) return ReasonForPathError(written.error);
  return std::nullopt;
}

// Copies the entry's data into the file block by block, so memory stays bounded whatever the
// entry's size, and stops as soon as the data outgrows the size the archive declared: a header
// that understates a size must not let an entry fill the disk.
std::optional<SkipReason> CopyData(EntryData& data, int fd, const EntryAttributes& attributes,
                                   std::span<char> buffer) {
  const std::optional<std::uint64_t>& limit = attributes.declaredSize;
  std::uint64_t total = 0;
  for (;;) {
    std::ptrdiff_t count = data.Read(buffer.data(), buffer.size());
    if (count < 0) return SkipReason::kUnreadableData;
    if (count == 0) return std::nullopt;
    total += static_cast<std::uint64_t>(count);
    if (limit && total > *limit) return SkipReason::kTooLarge;
    if (auto reason =
            WriteCounted(fd, buffer.data(), static_cast<std::size_t>(count), attributes.progress)) {
      return reason;
    }
  }
}

void SetTime(int fd, const std::optional<timespec>& mtime) {
  if (!mtime) return;
  timespec times[2] = {{0, UTIME_OMIT}, *mtime};
  futimens(fd, times);
}

// Gives the written file its time and the archive's origin, then its name, replacing nothing
// unless the user chose to.
std::optional<SkipReason> Finish(TemporaryFile& file, const EntryAttributes& attributes,
                                 const std::string& name) {
  SetTime(file.Fd(), attributes.mtime);
  if (attributes.origin) attributes.origin->Mark(file.Fd());
  const std::optional<FileIdentity>& old = attributes.replaces;
  bool published =
      old ? file.PublishReplacingRegularFile(name, old->device, old->inode) : file.Publish(name);
  if (!published) {
    return errno == EEXIST ? SkipReason::kAlreadyExists : ReasonForPathError(errno);
  }
  return std::nullopt;
}

}  // namespace

std::optional<SkipReason> FolderCache::OpenParent(const EntryPath& path, int& folderFd) {
  std::size_t count = path.components.size() - 1;
  std::string wanted = path.Joined(count);
  if (!folder_.Valid() || wanted != path_) {
    known_ = false;
    OpenedFolders opened = OpenFolders(destinationFd_, path, count, *made_, LastFolder::kOnTheWay);
    folder_ = std::move(opened.folder);
    if (opened.failure) {
      folder_.Reset();
      return opened.failure;
    }
    path_ = std::move(wanted);
    known_ = true;
  }
  folderFd = folder_.Get();
  return std::nullopt;
}

int FolderCache::FindParent(const EntryPath& path) {
  std::string wanted = path.Joined(path.components.size() - 1);
  if (!known_ || wanted != path_) {
    folder_ = wanted.empty() ? UniqueFd(fcntl(destinationFd_, F_DUPFD_CLOEXEC, 0))
                             : OpenBeneath(destinationFd_, wanted, O_PATH | O_DIRECTORY);
    path_ = std::move(wanted);
    known_ = true;
  }
  return folder_.Get();
}

std::optional<SkipReason> WriteFileEntry(FolderCache& folders, const EntryPath& path,
                                         const EntryAttributes& attributes, EntryData& data,
                                         std::span<char> buffer) {
  int folder = -1;
  if (auto reason = folders.OpenParent(path, folder)) return reason;
  const std::string& name = path.components.back();
  // Checked first only to spare decompressing a large entry that cannot be placed; the final
  // rename refuses to replace anything all the same.
  if (!attributes.replaces && NameExists(folder, name)) {
    return SkipReason::kAlreadyExists;
  }
  TemporaryFile file(folder, PlainPermissions(attributes.permissions));
  if (!file.Valid()) return ReasonForPathError(errno);
  if (auto reason = CopyData(data, file.Fd(), attributes, buffer)) return reason;
  return Finish(file, attributes, name);
}

std::optional<SkipReason> WriteFileContent(FolderCache& folders, const EntryPath& path,
                                           const EntryAttributes& attributes,
                                           std::span<const char> content) {
  int folder = -1;
  if (auto reason = folders.OpenParent(path, folder)) return reason;
  // No look for an existing name first: the content is decoded already, and the rename that
  // publishes the file refuses to replace anything it may not.
  TemporaryFile file(folder, PlainPermissions(attributes.permissions));
  if (!file.Valid()) return ReasonForPathError(errno);
  if (auto reason = WriteCounted(file.Fd(), content.data(), content.size(), attributes.progress)) {
    return reason;
  }
  return Finish(file, attributes, path.components.back());
}

void MadeFolders::Add(std::string path) {
  std::lock_guard lock(mutex_);
  paths_.insert(std::move(path));
}

bool MadeFolders::Take(const std::string& path) {
  std::lock_guard lock(mutex_);
  return paths_.erase(path) > 0;
}

FolderEntryOutcome WriteFolderEntry(int destinationFd, const EntryPath& path, mode_t permissions,
                                    MadeFolders& made) {
  OpenedFolders opened =
      OpenFolders(destinationFd, path, path.components.size(), made, LastFolder::kOwnEntry);
  if (opened.failure) return {opened.failure, std::nullopt};
  // A folder made on the way to a file that came first, here or in another worker, is still this
  // entry's. Every folder this run makes starts as 0777 under the umask, so masking with its own
  // mode applies the umask without reading it, which would race with other threads.
  if (!opened.lastCreated && !made.Take(path.Joined())) return {};
  struct stat status;
  if (fstat(opened.folder.Get(), &status) != 0) return {};
  return {std::nullopt, PlainPermissions(permissions) & status.st_mode & 0777};
}

namespace {

std::size_t Depth(const std::string& path) {
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

}  // namespace

void FinishFolders(int destinationFd, std::vector<FolderFinish> folders) {
  std::stable_sort(
      folders.begin(), folders.end(),
      [](const FolderFinish& a, const FolderFinish& b) { return Depth(a.path) > Depth(b.path); });
  for (const FolderFinish& finish : folders) {
    UniqueFd folder = OpenBeneath(destinationFd, finish.path, O_RDONLY | O_DIRECTORY);
    if (!folder.Valid()) continue;
    SetTime(folder.Get(), finish.mtime);
    fchmod(folder.Get(), finish.permissions);
  }
}

}  // namespace zipdrop
