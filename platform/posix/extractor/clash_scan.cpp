#include "platform/posix/extractor/clash_scan.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

#include "platform/posix/extractor/entry_writer.h"

namespace zipdrop {

namespace {

struct Clash {
  PlannedEntry* entry;
  FileIdentity existing;  // The file the user is asked about, and the only one it may replace.
};

bool IsKept(const struct stat& status, const PlannedEntry& entry, const NeverReplaced& kept) {
  if (kept.topFolder && entry.path.components.size() == 1) return true;
  return std::any_of(kept.files.begin(), kept.files.end(), [&](const FileIdentity& file) {
    return file.device == status.st_dev && file.inode == status.st_ino;
  });
}

// Every file entry to be written whose name a regular file has that may be replaced, in archive
// order. A folder that does not exist holds no clash.
std::vector<Clash> FindClashes(std::vector<PlannedEntry>& plan, int destinationFd,
                               const NeverReplaced& kept) {
  std::vector<Clash> clashes;
  FolderCache folders(destinationFd);
  for (PlannedEntry& entry : plan) {
    if (entry.step != EntryStep::kWrite || entry.kind != EntryKind::kFile) continue;
    int folder = folders.FindParent(entry.path);
    struct stat status;
    if (folder < 0 ||
        fstatat(folder, entry.path.components.back().c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode) || IsKept(status, entry, kept)) {
      continue;
    }
    clashes.push_back({&entry, {status.st_dev, status.st_ino}});
  }
  return clashes;
}

void Replace(const Clash& clash) { clash.entry->replaces = clash.existing; }

// Asks about each file in turn until the user answers for the rest as well.
ClashOutcome DecideEach(const std::vector<Clash>& clashes, ClashQuestion& question) {
  std::vector<const Clash*> chosen;
  std::optional<bool> rest;
  for (std::size_t k = 0; k < clashes.size(); ++k) {
    bool replace = rest.value_or(false);
    if (!rest) {
      switch (question.AskOne(PrintableName(clashes[k].entry->name), clashes.size() - k)) {
        case FileClashChoice::kCancel:
          return ClashOutcome::kCancelled;
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
    if (replace) chosen.push_back(&clashes[k]);
  }
  // Nothing is marked before the last answer: a Cancel at any question replaces nothing.
  for (const Clash* clash : chosen) Replace(*clash);
  return ClashOutcome::kDecided;
}

ClashOutcome Ask(const std::vector<Clash>& clashes, ClashQuestion& question) {
  switch (question.AskAll(clashes.size())) {
    case ClashChoice::kCancel:
      return ClashOutcome::kCancelled;
    case ClashChoice::kSkip:
      return ClashOutcome::kDecided;
    case ClashChoice::kDecideEach:
      return DecideEach(clashes, question);
    case ClashChoice::kReplace:
      break;
  }
  for (const Clash& clash : clashes) Replace(clash);
  return ClashOutcome::kDecided;
}

}  // namespace

ClashOutcome DecideClashes(std::vector<PlannedEntry>& plan, int destinationFd,
                           ClashQuestion* question, const NeverReplaced& kept) {
  if (question == nullptr) return ClashOutcome::kDecided;
  std::vector<Clash> clashes = FindClashes(plan, destinationFd, kept);
  if (clashes.empty()) return ClashOutcome::kDecided;
  return Ask(clashes, *question);
}

}  // namespace zipdrop
