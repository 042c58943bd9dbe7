#include "platform/posix/extractor/beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zipdrop {

namespace {

std::atomic<bool> forceComponentWalk{false};
std::atomic<bool> forceLinkThenUnlink{false};
std::atomic<bool> forceNamedTemporary{false};

// Restores errno across a cleanup call, so that a failure's cause survives its clean-up.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

// openat2 refuses every symlink on the way (RESOLVE_NO_SYMLINKS), any escape through ".." or an
// absolute path (RESOLVE_BENEATH) and the /proc "magic" links, in one call and without the
// check-then-use race of inspecting each component first. glibc 2.36 has no wrapper for it.
int OpenWithOpenat2(int dirFd, const std::string& path, int flags, mode_t mode) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  how.mode = (flags & O_CREAT) ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how));
}

// Sets errno and gives the result of a failed open.
int FailWith(int error) {
  errno = error;
  return -1;
}

// Without openat2, each component is opened by itself with O_NOFOLLOW, so a symlink anywhere
// fails with ELOOP instead of being followed; ".." and "." are refused outright because they
// would step out of (or stay on) a folder already checked.
int OpenByComponents(int dirFd, std::string_view path, int flags, mode_t mode) {
  if (path.empty() || path.front() == '/') return FailWith(EXDEV);
  UniqueFd current;
  int parent = dirFd;
  for (;;) {
    size_t slash = path.find('/');
    std::string component(path.substr(0, slash));
    if (component == ".." || component == ".") return FailWith(EXDEV);
    if (slash == std::string_view::npos) return openat(parent, component.c_str(), flags, mode);
    if (!component.empty()) {
      current = UniqueFd(
          openat(parent, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!current.Valid()) return -1;
      parent = current.Get();
    }
    path.remove_prefix(slash + 1);
  }
}

// Random numbers for temporary names, from a generator per thread seeded once by the kernel: one
// getrandom call per file would be a tenth of the system calls of a small file. The names need
// not be secret, since O_EXCL is what stops a planted name; being unguessable only keeps another
// program from making every attempt collide.
bool NextRandom(std::uint64_t& value) {
  thread_local std::uint64_t state = 0;
  thread_local bool seeded = false;
  if (!seeded) {
    if (getrandom(&state, sizeof state, 0) != sizeof state) return false;
    seeded = true;
  }
  // splitmix64: every seed gives a full-period sequence of well-mixed values.
  std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  value = z ^ (z >> 31);
  return true;
}

constexpr int kNameAttempts = 100;

// A hidden name for a file still being written, such as ".zipdrop-k3x0a9qe.part".
bool HiddenName(std::string& name) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t random = 0;
  if (!NextRandom(random)) return false;
  name = ".zipdrop-";
  for (int i = 0; i < 8; ++i, random >>= 6) name += kLetters[(random & 63) % (sizeof kLetters - 1)];
  name += ".part";
  return true;
}

}  // namespace

void ForceFallbacks(Fallbacks fallbacks) {
  forceComponentWalk = fallbacks.componentWalk;
  forceLinkThenUnlink = fallbacks.linkThenUnlink;
  forceNamedTemporary = fallbacks.namedTemporary;
}

UniqueFd OpenBeneath(int dirFd, std::string_view relativePath, int flags, mode_t mode) {
  flags |= O_NOFOLLOW | O_CLOEXEC;
  if (!forceComponentWalk) {
    int fd = OpenWithOpenat2(dirFd, std::string(relativePath), flags, mode);
    if (fd >= 0 || errno != ENOSYS) return UniqueFd(fd);
  }
  return UniqueFd(OpenByComponents(dirFd, relativePath, flags, mode));
}

UniqueFd OpenOrCreateFolder(int parentFd, const std::string& name, mode_t mode, bool& created) {
  // mkdirat never follows a symlink at its final name: a link there makes it fail with EEXIST,
  // and the open below then refuses the link.
  created = mkdirat(parentFd, name.c_str(), mode) == 0;
  if (!created && errno != EEXIST) return UniqueFd();
  return OpenBeneath(parentFd, name, O_RDONLY | O_DIRECTORY);
}

bool NameExists(int dirFd, const std::string& name) {
  struct stat status;
  return fstatat(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

// EOPNOTSUPP is a file system without O_TMPFILE; EISDIR and EINVAL are kernels that predate it.
TemporaryFile::TemporaryFile(int dirFd, mode_t mode) : dirFd_(dirFd) {
  if (!forceNamedTemporary) {
    if (CreateUnnamed(mode)) return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return;
  }
  CreateNamed(mode);
}

bool TemporaryFile::CreateUnnamed(mode_t mode) {
  fd_ = UniqueFd(openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  created_ = fd_.Valid();
  return created_;
}

void TemporaryFile::CreateNamed(mode_t mode) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    if (!HiddenName(name_)) return;
    // O_EXCL makes the create fail rather than open whatever already has the name, a symlink
    // planted there included.
    int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    fd_ = UniqueFd(openat(dirFd_, name_.c_str(), flags, mode));
    created_ = fd_.Valid();
    if (created_ || errno != EEXIST) return;
  }
}

TemporaryFile::~TemporaryFile() {
  fd_.Reset();
  if (created_ && !published_ && !name_.empty()) {
    ErrnoKeeper keep;
    unlinkat(dirFd_, name_.c_str(), 0);
  }
}

bool TemporaryFile::Publish(const std::string& finalName) {
  bool published = name_.empty() ? PublishUnnamed(finalName) : PublishNamed(finalName);
  published_ = published;
  return published;
}

// linkat names the file and, like every link, never replaces a name that exists (EEXIST). It
// reaches an unnamed file through /proc; AT_EMPTY_PATH, which needs no /proc, is allowed only to
// processes with CAP_DAC_READ_SEARCH. The file is closed once named, since a delayed write error
// (NFS, quotas) shows only then: the name is taken back if it does.
bool TemporaryFile::PublishUnnamed(const std::string& finalName) {
  struct stat own;
  if (fstat(fd_.Get(), &own) != 0) return false;
  std::string procPath = "/proc/self/fd/" + std::to_string(fd_.Get());
  if (linkat(AT_FDCWD, procPath.c_str(), dirFd_, finalName.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    if (errno != ENOENT) return false;
    if (linkat(fd_.Get(), "", dirFd_, finalName.c_str(), AT_EMPTY_PATH) != 0) return false;
  }
  if (close(fd_.Release()) == 0) return true;
  ErrnoKeeper keep;
  struct stat named;
  if (fstatat(dirFd_, finalName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
    unlinkat(dirFd_, finalName.c_str(), 0);
  }
  return false;
}

bool TemporaryFile::PublishNamed(const std::string& finalName) {
  if (close(fd_.Release()) != 0) return false;  // A delayed write error (NFS, quotas) shows here.
  bool renamed = false;
  if (!forceLinkThenUnlink) {
    renamed = renameat2(dirFd_, name_.c_str(), dirFd_, finalName.c_str(), RENAME_NOREPLACE) == 0;
    if (!renamed && errno != EINVAL) return false;
  }
  // Some file systems do not know RENAME_NOREPLACE; linkat never replaces a name either, and
  // the temporary name is removed only once the final one exists.
  if (!renamed) {
    if (linkat(dirFd_, name_.c_str(), dirFd_, finalName.c_str(), 0) != 0) return false;
    unlinkat(dirFd_, name_.c_str(), 0);
  }
  return true;
}

// The old file is checked to be the regular file the user chose first: a folder, a device or a
// file that must stay, put in its place meanwhile, must stay. Should something else take its
// place before the rename, a folder makes the rename fail and a link or a device is itself
// replaced; rename never follows a link at the final name.
bool TemporaryFile::PublishReplacingRegularFile(const std::string& finalName, dev_t device,
                                                ino_t inode) {
  struct stat existing;
  if (fstatat(dirFd_, finalName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT && Publish(finalName);
  }
  if (!S_ISREG(existing.st_mode) || existing.st_dev != device || existing.st_ino != inode) {
    errno = EEXIST;
    return false;
  }
  if (name_.empty() && !GiveHiddenName()) return false;
  if (close(fd_.Release()) != 0) return false;  // A delayed write error (NFS, quotas) shows here.
  if (renameat(dirFd_, name_.c_str(), dirFd_, finalName.c_str()) != 0) return false;
  published_ = true;
  return true;
}

// An unnamed file cannot be renamed over another: it is linked under a hidden name first, which
// the destructor removes should the rename fail.
bool TemporaryFile::GiveHiddenName() {
  std::string procPath = "/proc/self/fd/" + std::to_string(fd_.Get());
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name;
    if (!HiddenName(name)) return false;
    if (linkat(AT_FDCWD, procPath.c_str(), dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      name_ = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace zipdrop
