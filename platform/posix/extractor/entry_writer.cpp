#include "platform/posix/extractor/entry_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/extractor/beneath.h"

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

// Opens (creating where missing) the first `count` components of path as folders, one at a time,
// so that each one is checked to be a real folder inside the destination. Folders created on the
// way, without an entry of their own, go into made.
std::optional<SkipReason> OpenFolders(int destinationFd, const EntryPath& path, size_t count,
                                      mode_t lastMode, UniqueFd& folder, bool& lastCreated,
                                      MadeFolders& made, bool lastIsImplicit) {
  // Most entries land in folders that exist already: one openat2 call checks the whole path.
  if (count > 0) {
    folder = OpenBeneath(destinationFd, path.Joined(count), O_RDONLY | O_DIRECTORY);
    if (folder.Valid()) return lastCreated = false, std::nullopt;
    if (errno != ENOENT) return ReasonForPathError(errno);
  }
  folder = UniqueFd(dup(destinationFd));
  if (!folder.Valid()) return SkipReason::kWriteFailed;
  for (size_t i = 0; i < count; ++i) {
    mode_t mode = (i + 1 == count) ? lastMode : kImplicitFolderMode;
    UniqueFd child = OpenOrCreateFolder(folder.Get(), path.components[i], mode, lastCreated);
    if (!child.Valid()) return ReasonForPathError(errno);
    if (lastCreated && (i + 1 < count || lastIsImplicit)) made.Add(path.Joined(i + 1));
    folder = std::move(child);
  }
  return std::nullopt;
}

// Writes all the bytes, however many calls the file system takes, and counts them as written.
std::optional<SkipReason> WriteAll(int fd, const char* bytes, std::size_t count,
                                   ExtractionProgress* progress) {
  for (std::size_t done = 0; done < count;) {
    ssize_t written = write(fd, bytes + done, count - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return ReasonForPathError(errno);
    if (written == 0) return SkipReason::kWriteFailed;
    done += static_cast<std::size_t>(written);
    if (progress) progress->AddWritten(static_cast<std::uint64_t>(written));
  }
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
    // A large entry takes long to write, and a user who cancelled must not wait for it.
    if (attributes.progress && attributes.progress->Cancelled()) return SkipReason::kCancelled;
    std::ptrdiff_t count = data.Read(buffer.data(), buffer.size());
    if (count < 0) return SkipReason::kUnreadableData;
    if (count == 0) return std::nullopt;
    total += static_cast<std::uint64_t>(count);
    if (limit && total > *limit) return SkipReason::kTooLarge;
    if (auto reason = WriteAll(fd, buffer.data(), static_cast<std::size_t>(count),
                               attributes.progress)) {
      return reason;
    }
  }
}

void SetTime(int fd, const std::optional<timespec>& mtime) {
  if (!mtime) return;
  timespec times[2] = {{0, UTIME_OMIT}, *mtime};
  futimens(fd, times);
}

// Gives the written file its time, then its name, never replacing anything.
std::optional<SkipReason> Finish(TemporaryFile& file, const EntryAttributes& attributes,
                                 const std::string& name) {
  SetTime(file.Fd(), attributes.mtime);
  if (!file.Publish(name)) {
    return errno == EEXIST ? SkipReason::kAlreadyExists : ReasonForPathError(errno);
  }
  return std::nullopt;
}

}  // namespace

std::optional<SkipReason> FolderCache::OpenParent(const EntryPath& path, int& folderFd) {
  std::size_t count = path.components.size() - 1;
  std::string wanted = path.Joined(count);
  if (!folder_.Valid() || wanted != path_) {
    path_.clear();
    bool created = false;
    if (auto reason = OpenFolders(destinationFd_, path, count, kImplicitFolderMode, folder_,
                                  created, made_, true)) {
      folder_.Reset();
      return reason;
    }
    path_ = std::move(wanted);
  }
  folderFd = folder_.Get();
  return std::nullopt;
}

std::optional<SkipReason> WriteFileEntry(FolderCache& folders, const EntryPath& path,
                                         const EntryAttributes& attributes, EntryData& data,
                                         std::span<char> buffer) {
  int folder = -1;
  if (auto reason = folders.OpenParent(path, folder)) return reason;
  const std::string& name = path.components.back();
  // Checked first only to spare decompressing a large entry that cannot be placed; the final
  // rename refuses to replace anything all the same.
  if (NameExists(folder, name)) return SkipReason::kAlreadyExists;
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
  // publishes the file refuses to replace anything.
  TemporaryFile file(folder, PlainPermissions(attributes.permissions));
  if (!file.Valid()) return ReasonForPathError(errno);
  if (auto reason = WriteAll(file.Fd(), content.data(), content.size(), attributes.progress)) {
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
  UniqueFd folder;
  bool created = false;
  if (auto reason = OpenFolders(destinationFd, path, path.components.size(), kImplicitFolderMode,
                                folder, created, made, false)) {
    return {reason, std::nullopt};
  }
  // A folder made on the way to a file that came first, here or in another worker, is still this
  // entry's. Every folder this run makes starts as 0777 under the umask, so masking with its own
  // mode applies the umask without reading it, which would race with other threads.
  if (!created && !made.Take(path.Joined())) return {};
  struct stat status;
  if (fstat(folder.Get(), &status) != 0) return {};
  return {std::nullopt, PlainPermissions(permissions) & status.st_mode & 0777};
}

namespace {

std::size_t Depth(const std::string& path) {
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

}  // namespace

void FinishFolders(int destinationFd, std::vector<FolderFinish> folders) {
  std::stable_sort(folders.begin(), folders.end(), [](const FolderFinish& a, const FolderFinish& b) {
    return Depth(a.path) > Depth(b.path);
  });
  for (const FolderFinish& finish : folders) {
    UniqueFd folder = OpenBeneath(destinationFd, finish.path, O_RDONLY | O_DIRECTORY);
    if (!folder.Valid()) continue;
    SetTime(folder.Get(), finish.mtime);
    fchmod(folder.Get(), finish.permissions);
  }
}

}  // namespace zipdrop
