#include "platform/posix/folder_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <set>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "platform/posix/posix_error.h"
#include "platform/posix/unique_fd.h"

// Every step works on descriptors of folders already opened with O_NOFOLLOW, never on a path
// resolved again from the top: someone who can write into the temporary folder could otherwise
// swap a folder for a link to their victim's files between our check and our removal. The walk
// keeps one folder open at a time and climbs back through "..", checked against the device and
// inode noted on the way down, so neither the stack nor the descriptor table limits the depth.

namespace zipdrop {

namespace {

constexpr int kFolderOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

class DirectoryStream {
 public:
  explicit DirectoryStream(UniqueFd folder) {
    dir_ = fdopendir(folder.Get());
    if (dir_ == nullptr) ThrowSystemError("cannot read folder");
    folder.Release();
  }
  DirectoryStream(DirectoryStream&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
  DirectoryStream& operator=(DirectoryStream&& other) noexcept {
    std::swap(dir_, other.dir_);
    return *this;
  }
  ~DirectoryStream() {
    if (dir_ != nullptr) closedir(dir_);
  }

  int Fd() const { return dirfd(dir_); }
  void Rewind() { rewinddir(dir_); }

  // The next entry other than "." and "..", or nullptr at the end.
  const dirent* Next() {
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir_);
      if (entry == nullptr) {
        if (errno != 0) ThrowSystemError("cannot read folder");
        return nullptr;
      }
      std::string_view name = entry->d_name;
      if (name != "." && name != "..") return entry;
    }
  }

 private:
  DIR* dir_ = nullptr;
};

UniqueFd Duplicate(int fd) {
  UniqueFd copy(fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!copy.Valid()) ThrowSystemError("cannot duplicate a folder descriptor");
  return copy;
}

struct stat StatusOf(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) ThrowSystemError("cannot inspect folder");
  return info;
}

// Which mount a folder belongs to. A bind mount of a folder on the same file system has the same
// device number as its surroundings; only the mount ID tells it apart. Kernels before 5.8 do not
// report it, and there the device number is all there is to compare.
struct MountIdentity {
  dev_t device;
  std::optional<std::uint64_t> mountId;
  bool operator==(const MountIdentity& other) const {
    return device == other.device && (!mountId || !other.mountId || *mountId == *other.mountId);
  }
};

MountIdentity MountOf(int fd) {
  MountIdentity identity{StatusOf(fd).st_dev, std::nullopt};
  struct statx info;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &info) == 0 && (info.stx_mask & STATX_MNT_ID)) {
    identity.mountId = info.stx_mnt_id;
  }
  return identity;
}

// What became of one matching folder.
enum class Removal {
  kRemoved,
  kNotAFolder,  // The name is not (or no longer) a folder; it is left alone.
  kPartly,      // A mount inside it was left as it is, with the folders that lead to it.
};

class TreeRemover {
 public:
  TreeRemover(int topFd, bool force) : topFd_(topFd), force_(force), mount_(MountOf(topFd)) {}

  // Removes the folder called name inside the top folder.
  Removal Remove(const std::string& name);

 private:
  struct Level {
    std::string name;  // Its name inside the level above.
    dev_t device;
    ino_t inode;
    std::set<std::string> kept;  // Entries left in place: mounts, or folders that lead to one.
  };
  // What to do with a folder met on the way down.
  enum class Opened { kFolder, kNotAFolder, kMount };
  // What became of an entry met in a listing.
  enum class Met { kEntered, kRemoved, kKept };

  Opened OpenFolder(int parentFd, const char* name, UniqueFd& folder);
  void AllowOwnerEverything(int folderFd, const char* name);
  bool RemoveNonFolder(int folderFd, const char* name);
  Met EnterIfFolder(DirectoryStream& current, const dirent& entry);
  void Leave(DirectoryStream& current);

  int topFd_;
  bool force_;
  MountIdentity mount_;
  std::vector<Level> levels_;
};

// Another file system, or another mount of this one (a bind mount), is never entered: what is
// mounted there belongs elsewhere, however it came to be inside the temporary folder.
TreeRemover::Opened TreeRemover::OpenFolder(int parentFd, const char* name, UniqueFd& result) {
  UniqueFd folder(openat(parentFd, name, kFolderOpenFlags));
  if (!folder.Valid() && errno == EACCES && force_) {
    // A folder without read or search permission cannot be opened to be emptied. The mode is
    // changed without following links, so a link planted under this name changes nothing.
    if (fchmodat(parentFd, name, S_IRWXU, AT_SYMLINK_NOFOLLOW) == 0) {
      folder.Reset(openat(parentFd, name, kFolderOpenFlags));
    }
  }
  if (!folder.Valid()) {
    // ELOOP (EMLINK on the BSDs) is O_NOFOLLOW meeting a link; ENOTDIR is anything else.
    if (errno == ELOOP || errno == EMLINK || errno == ENOTDIR) return Opened::kNotAFolder;
    ThrowSystemError(std::string("cannot open folder ") + name);
  }
  if (!(MountOf(folder.Get()) == mount_)) return Opened::kMount;
  AllowOwnerEverything(folder.Get(), name);
  result = std::move(folder);
  return Opened::kFolder;
}

// Removing entries needs write and search permission on their folder.
void TreeRemover::AllowOwnerEverything(int folderFd, const char* name) {
  mode_t mode = StatusOf(folderFd).st_mode;
  if ((mode & S_IRWXU) == S_IRWXU) return;
  if (!force_ && (mode & S_IWUSR) == 0) {
    throw PlatformError(std::string("folder is read-only: ") + name);
  }
  if (fchmod(folderFd, (mode & 07777) | S_IRWXU) != 0) {
    ThrowSystemError(std::string("cannot make folder writable: ") + name);
  }
}

// Removes a file or link; false when it is a mount point (a file bind-mounted there), kept.
bool TreeRemover::RemoveNonFolder(int folderFd, const char* name) {
  if (!force_) {
    struct stat info;
    bool readOnly = fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                    !S_ISLNK(info.st_mode) && (info.st_mode & S_IWUSR) == 0;
    if (readOnly) throw PlatformError(std::string("file is read-only: ") + name);
  }
  if (unlinkat(folderFd, name, 0) == 0) return true;
  if (errno == EBUSY) return false;
  ThrowSystemError(std::string("cannot remove ") + name);
}

// Opens the entry and makes it the current folder when it is one; removes it otherwise, or keeps
// it when it is a mount.
TreeRemover::Met TreeRemover::EnterIfFolder(DirectoryStream& current, const dirent& entry) {
  Level& level = levels_.back();
  if (level.kept.count(entry.d_name) > 0) return Met::kKept;
  if (entry.d_type == DT_DIR || entry.d_type == DT_UNKNOWN) {
    UniqueFd child;
    switch (OpenFolder(current.Fd(), entry.d_name, child)) {
      case Opened::kFolder: {
        struct stat info = StatusOf(child.Get());
        levels_.push_back({entry.d_name, info.st_dev, info.st_ino, {}});
        current = DirectoryStream(std::move(child));
        return Met::kEntered;
      }
      case Opened::kMount:
        level.kept.insert(entry.d_name);
        return Met::kKept;
      case Opened::kNotAFolder:
        break;
    }
  }
  if (RemoveNonFolder(current.Fd(), entry.d_name)) return Met::kRemoved;
  level.kept.insert(entry.d_name);
  return Met::kKept;
}

// Removes the current folder, now empty but for what it keeps, and makes its parent the current
// one again. A folder that keeps something is left too, and kept by its parent in turn.
void TreeRemover::Leave(DirectoryStream& current) {
  Level& parentLevel = levels_[levels_.size() - 2];
  UniqueFd parent(openat(current.Fd(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.Valid()) ThrowSystemError("cannot reopen parent folder of " + levels_.back().name);
  struct stat info = StatusOf(parent.Get());
  if (info.st_dev != parentLevel.device || info.st_ino != parentLevel.inode) {
    throw PlatformError("folder moved while it was being removed: " + levels_.back().name);
  }
  if (!levels_.back().kept.empty()) {
    parentLevel.kept.insert(levels_.back().name);
  } else if (unlinkat(parent.Get(), levels_.back().name.c_str(), AT_REMOVEDIR) != 0) {
    ThrowSystemError("cannot remove folder " + levels_.back().name);
  }
  levels_.pop_back();
  current = DirectoryStream(std::move(parent));
}

Removal TreeRemover::Remove(const std::string& name) {
  UniqueFd top;
  switch (OpenFolder(topFd_, name.c_str(), top)) {
    case Opened::kNotAFolder:
      return Removal::kNotAFolder;
    case Opened::kMount:
      return Removal::kPartly;
    case Opened::kFolder:
      break;
  }
  struct stat info = StatusOf(top.Get());
  levels_ = {{name, info.st_dev, info.st_ino, {}}};
  DirectoryStream current(std::move(top));
  // A folder is read to its end once more after any pass that met entries: some file systems
  // skip entries in a listing whose folder changes while it is read.
  bool metEntries = false;
  for (;;) {
    if (const dirent* entry = current.Next()) {
      Met met = EnterIfFolder(current, *entry);
      if (met != Met::kKept) metEntries = met == Met::kRemoved;
    } else if (metEntries) {
      current.Rewind();
      metEntries = false;
    } else if (levels_.size() > 1) {
      Leave(current);
    } else {
      break;
    }
  }
  if (!levels_.back().kept.empty()) return Removal::kPartly;
  if (unlinkat(topFd_, name.c_str(), AT_REMOVEDIR) != 0) ThrowSystemError("cannot remove " + name);
  return Removal::kRemoved;
}

struct PatternParts {
  std::string folder;
  std::string fnmatchPattern;
};

// Windows wildcards know only '*' and '?', so the characters fnmatch gives a meaning of its own
// ('[', ']' and '\') are escaped to stand for themselves.
std::string ToFnmatchPattern(const std::string& wildcard) {
  std::string pattern;
  for (char c : wildcard) {
    if (c == '[' || c == ']' || c == '\\') pattern.push_back('\\');
    pattern.push_back(c);
  }
  return pattern;
}

PatternParts SplitPattern(std::string pattern) {
  while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
  size_t slash = pattern.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash == 0 ? 1 : slash);
  std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (name.empty()) throw PlatformError("no folder name in pattern: " + pattern);
  if (folder.find_first_of("*?") != std::string::npos) {
    throw PlatformError("wildcards are allowed only in the last name of: " + pattern);
  }
  return {folder, ToFnmatchPattern(name)};
}

std::vector<std::string> MatchingNames(int folderFd, const std::string& fnmatchPattern) {
  std::vector<std::string> names;
  DirectoryStream folder(Duplicate(folderFd));
  while (const dirent* entry = folder.Next()) {
    if (fnmatch(fnmatchPattern.c_str(), entry->d_name, 0) == 0) names.push_back(entry->d_name);
  }
  return names;
}

}  // namespace

void DeleteMatchingFolders(const std::string& pattern, bool force) {
  PatternParts parts = SplitPattern(pattern);
  // The parent part is the caller's own choice (often a link such as /tmp), so it is followed.
  UniqueFd folder(open(parts.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.Valid()) ThrowSystemError("cannot open folder " + parts.folder);
  TreeRemover remover(folder.Get(), force);
  std::size_t removed = 0;
  std::size_t partly = 0;
  for (const std::string& name : MatchingNames(folder.Get(), parts.fnmatchPattern)) {
    Removal removal = remover.Remove(name);
    removed += removal == Removal::kRemoved;
    partly += removal == Removal::kPartly;
  }
  // The other folders are removed before a partial one is reported.
  if (partly > 0) throw PlatformError("mounts inside " + pattern + " were left as they are");
  if (removed == 0) throw PlatformError("no folder matches " + pattern);
}

}  // namespace zipdrop
