// File operations confined to one folder: nothing they do can reach outside it, and no link is
// ever followed or created. The ZIP extractor writes through these alone.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/posix/unique_fd.h"

namespace zipdrop {

/// The ways older kernels and some file systems are served. Tests force them where the machine
/// would not need them, so that those paths are exercised too.
struct Fallbacks {
  bool componentWalk = false;  // Walk paths with openat(O_NOFOLLOW), as without openat2.
  bool linkThenUnlink = false;  // Publish with linkat + unlinkat, as without RENAME_NOREPLACE.
  bool namedTemporary = false;  // Write under a hidden name, as where O_TMPFILE is refused.
};
void ForceFallbacks(Fallbacks fallbacks);

/// Opens the relative path beneath the folder dirFd (flags as for openat; O_NOFOLLOW and
/// O_CLOEXEC are added). Fails, with errno set and an invalid result, when any component is a
/// symlink, when the path is absolute or climbs out of the folder, or when the open fails.
UniqueFd OpenBeneath(int dirFd, std::string_view relativePath, int flags, mode_t mode = 0);

/// Opens the folder `name` inside parentFd, creating it with mode (under the umask) when it is
/// missing. `created` tells whether this call made it. A symlink or a file at that name fails
/// (ELOOP or ENOTDIR) and is left as it is.
UniqueFd OpenOrCreateFolder(int parentFd, const std::string& name, mode_t mode, bool& created);

/// True when something (a file, folder or symlink, even a dangling one) has the name in dirFd.
bool NameExists(int dirFd, const std::string& name);

/// A new, empty file in a folder that gets its final name only from Publish: a file appears under
/// its real name whole or not at all. Where the file system allows it, the file has no name at
/// all until then (O_TMPFILE), so that not even a killed process or a power cut leaves a fragment.
/// Elsewhere (vfat, exFAT, some network file systems) it has a hidden temporary name, removed
/// again when the file is dropped unpublished.
class TemporaryFile {
 public:
  /// Creates the file with mode (under the umask). Fails with errno set: check Valid().
  TemporaryFile(int dirFd, mode_t mode);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  bool Valid() const { return created_; }
  int Fd() const { return fd_.Get(); }

  /// Closes the file and gives it its final name, never replacing anything that has it (EEXIST).
  /// Returns false with errno set on failure, and the temporary file is then removed on drop.
  bool Publish(const std::string& finalName);

  /// Publish, except that the regular file with the final name, device and inode is replaced, in
  /// one rename, so that the name always holds either the old content or the new one, whole.
  /// Anything else with the name (another file, a folder, a link, a device) is left as it is
  /// (EEXIST); a link is replaced by the rename at worst, never followed.
  bool PublishReplacingRegularFile(const std::string& finalName, dev_t device, ino_t inode);

 private:
  bool CreateUnnamed(mode_t mode);
  void CreateNamed(mode_t mode);
  bool PublishUnnamed(const std::string& finalName);
  bool PublishNamed(const std::string& finalName);
  bool GiveHiddenName();

  int dirFd_;
  std::string name_;  // Empty while the file has no name.
  UniqueFd fd_;
  bool created_ = false;
  bool published_ = false;
};

}  // namespace zipdrop
