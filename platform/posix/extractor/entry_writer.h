// Writing one entry into the destination folder, safely: only regular files and folders, never
// outside the folder, never through a link, never over anything that exists but a regular file
// the user chose to replace.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/posix/extractor/download_origin.h"
#include "platform/posix/extractor/entry_names.h"
#include "platform/posix/unique_fd.h"
#include "zipdrop/extractor/clashes.h"
#include "zipdrop/extractor/extraction_progress.h"
#include "zipdrop/extractor/extraction_report.h"

namespace zipdrop {

/// The source of one entry's content, one block at a time.
class EntryData {
 public:
  virtual ~EntryData() = default;
  /// Fills the buffer with the next bytes: the count, 0 at the end, -1 when the data is damaged,
  /// encrypted or compressed in a way the reader does not know.
  virtual std::ptrdiff_t Read(char* buffer, std::size_t size) = 0;
};

/// The attributes of one entry that the written file or folder takes.
struct EntryAttributes {
  mode_t permissions = 0;  // Only the 0777 bits are used; the umask applies on top.
  std::optional<timespec> mtime;
  std::optional<std::uint64_t> declaredSize;  // The data may not grow past it.
  ExtractionProgress* progress = nullptr;     // Counts the bytes written, when given.
  const DownloadOrigin* origin = nullptr;     // Where the archive came from, marked on the file.
  // The regular file that the entry replaces, when it still has the name; without it, anything
  // that has the name stays and the entry is skipped.
  std::optional<FileIdentity> replaces;
};

/// The folders this run created on the way to files, before (or without) their own entry. A folder
/// entry met later, even by another worker, still owns such a folder: it gives the folder its
/// permissions and time as if it had made it. Shared by the workers, so it locks.
class MadeFolders {
 public:
  void Add(std::string path);
  /// Whether the folder at path was made on the way to a file; true only once per path.
  bool Take(const std::string& path);

 private:
  std::mutex mutex_;
  std::unordered_set<std::string> paths_;
};

/// The folder that the previous file went into, kept open for the next file. Archives usually list
/// a folder's files together, and each reopening walks the whole path again. The folder was
/// checked to lie beneath the destination, through no link, when it was opened, exactly as a
/// fresh open would check it.
class FolderCache {
 public:
  /// A cache that only finds folders (FindParent).
  explicit FolderCache(int destinationFd) : destinationFd_(destinationFd) {}
  /// A cache that also creates them (OpenParent), noting those it made in made.
  FolderCache(int destinationFd, MadeFolders& made) : destinationFd_(destinationFd), made_(&made) {}
  FolderCache(const FolderCache&) = delete;
  FolderCache& operator=(const FolderCache&) = delete;

  /// Opens, creating where missing (0777 under the umask), the folder that holds the file at
  /// path; the descriptor stays owned by the cache. Returns the reason when it cannot.
  std::optional<SkipReason> OpenParent(const EntryPath& path, int& folderFd);

  /// The folder that holds the file at path, owned by the cache, or -1 when it does not exist or
  /// cannot be opened. Nothing is created.
  int FindParent(const EntryPath& path);

 private:
  int destinationFd_;
  MadeFolders* made_ = nullptr;
  bool known_ = false;  // Whether path_ and folder_ tell of a folder looked for; folder_ may then
                        // be invalid, for a folder that does not exist.
  std::string path_;    // The folder part of the last path, joined with '/'.
  UniqueFd folder_;
};

/// Writes one regular file from data at path, creating the folders on the way. The file appears
/// whole under its name or not at all; a file it replaces stays whole until then. Returns the
/// reason when it was not written. buffer is the reusable block the data is copied through.
std::optional<SkipReason> WriteFileEntry(FolderCache& folders, const EntryPath& path,
                                         const EntryAttributes& attributes, EntryData& data,
                                         std::span<char> buffer);

/// Writes one regular file whose whole content is already in memory, as WriteFileEntry does.
std::optional<SkipReason> WriteFileContent(FolderCache& folders, const EntryPath& path,
                                           const EntryAttributes& attributes,
                                           std::span<const char> content);

/// What writing a folder entry did.
struct FolderEntryOutcome {
  std::optional<SkipReason> skipped;
  /// Set when the folder is the entry's own, made by this run (by this call, or earlier on the
  /// way to a file): the permissions it takes once everything inside it is written, within what
  /// the entry and the umask allow.
  std::optional<mode_t> finalPermissions;
};

/// Creates the folder at path (and the folders on the way), or merges into it when it exists.
/// The folder is made open to its owner, so that the entries inside it can be written even when
/// the archive gives it a mode such as 0500; FinishFolder applies its own mode afterwards.
FolderEntryOutcome WriteFolderEntry(int destinationFd, const EntryPath& path, mode_t permissions,
                                    MadeFolders& made);

/// What a folder made by this run takes once nothing more is written into it.
struct FolderFinish {
  std::string path;  // Relative to the destination.
  std::optional<timespec> mtime;
  mode_t permissions;
};

/// Gives the folders their times and modes, the deepest first, so that a folder that loses its
/// write or search permission has nothing left to be done inside it. Failures are ignored: a
/// time or a mode is not worth more than the content already written.
void FinishFolders(int destinationFd, std::vector<FolderFinish> folders);

}  // namespace zipdrop
