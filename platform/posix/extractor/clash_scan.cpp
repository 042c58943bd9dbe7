#include "platform/posix/extractor/clash_scan.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "platform/posix/extractor/beneath.h"
#include "platform/posix/extractor/entry_kind.h"
#include "platform/posix/extractor/entry_names.h"
#include "platform/posix/unique_fd.h"

namespace zipdrop {

namespace {

struct Clash {
  std::size_t index;  // In the directory.
  std::string name;   // Printable, for the question about this one file.
};

// Entries usually come folder by folder, so the folder of the last one is kept open. A folder
// that does not exist holds no clash.
class ParentFolders {
 public:
  explicit ParentFolders(int destinationFd) : destinationFd_(destinationFd) {}

  // The regular file at path, as fstatat sees it without following a link; nothing otherwise.
  std::optional<struct stat> RegularFileAt(const EntryPath& path) {
    std::string folder = path.Joined(path.components.size() - 1);
    if (!opened_ || folder != path_) {
      path_ = folder;
      opened_ = true;
      fd_ = folder.empty() ? UniqueFd(fcntl(destinationFd_, F_DUPFD_CLOEXEC, 0))
                           : OpenBeneath(destinationFd_, folder, O_PATH | O_DIRECTORY);
    }
    struct stat status;
    if (!fd_.Valid() ||
        fstatat(fd_.Get(), path.components.back().c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
      return std::nullopt;
    }
    return status;
  }

 private:
  int destinationFd_;
  bool opened_ = false;
  std::string path_;
  UniqueFd fd_;
};

bool IsProtected(const struct stat& status, const std::vector<FileIdentity>& protectedFiles) {
  return std::any_of(protectedFiles.begin(), protectedFiles.end(), [&](const FileIdentity& file) {
    return file.device == status.st_dev && file.inode == status.st_ino;
  });
}

// Every file entry whose name an unprotected regular file has, in the order of the archive.
std::vector<Clash> FindClashes(const CentralDirectory& directory, int destinationFd,
                               const std::vector<FileIdentity>& protectedFiles) {
  std::vector<Clash> clashes;
  ParentFolders folders(destinationFd);
  for (std::size_t i = 0; i < directory.entries.size(); ++i) {
    std::string name = DecodeEntryName(directory.NameOf(directory.entries[i]));
    if (name.find('\0') != std::string::npos) continue;
    if (KindOf(directory.entries[i], name) != EntryKind::kFile) continue;
    EntryPath path = SplitEntryPath(name);
    if (path.problem != NameProblem::kNone) continue;
    std::optional<struct stat> existing = folders.RegularFileAt(path);
    if (existing && !IsProtected(*existing, protectedFiles)) {
      clashes.push_back({i, PrintableName(name)});
    }
  }
  return clashes;
}

// Asks about each file in turn until the user answers for the rest as well.
ClashDecision DecideEach(const std::vector<Clash>& clashes, std::size_t entryCount,
                         ClashQuestion& question) {
  ClashDecision decision{std::vector<bool>(entryCount, false)};
  std::optional<bool> rest;
  for (std::size_t k = 0; k < clashes.size(); ++k) {
    bool replace = rest.value_or(false);
    if (!rest) {
      switch (question.AskOne(clashes[k].name, clashes.size() - k)) {
        case FileClashChoice::kCancel:
          return {{}, true};
        case FileClashChoice::kReplaceRest:
          rest = true;
          [[fallthrough]];
        case FileClashChoice::kReplace:
          replace = true;
          break;
        case FileClashChoice::kSkipRest:
          rest = false;
          break;
        case FileClashChoice::kSkip:
          break;
      }
    }
    decision.replace[clashes[k].index] = replace;
  }
  return decision;
}

ClashDecision Ask(const std::vector<Clash>& clashes, std::size_t entryCount,
                  ClashQuestion& question) {
  switch (question.AskAll(clashes.size())) {
    case ClashChoice::kCancel:
      return {{}, true};
    case ClashChoice::kSkip:
      return {};
    case ClashChoice::kDecideEach:
      return DecideEach(clashes, entryCount, question);
    case ClashChoice::kReplace:
      break;
  }
  ClashDecision decision{std::vector<bool>(entryCount, false)};
  for (const Clash& clash : clashes) decision.replace[clash.index] = true;
  return decision;
}

}  // namespace

ClashDecision DecideClashes(const CentralDirectory& directory, int destinationFd,
                            ClashQuestion* question,
                            const std::vector<FileIdentity>& protectedFiles) {
  if (question == nullptr) return {};
  std::vector<Clash> clashes = FindClashes(directory, destinationFd, protectedFiles);
  if (clashes.empty()) return {};
  return Ask(clashes, directory.entries.size(), *question);
}

}  // namespace zipdrop
