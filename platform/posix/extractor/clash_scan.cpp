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

struct Clashes {
  std::vector<Clash> replaceable;
  std::vector<std::string> kept;  // Printable names of the files that exist and must stay.
};

// Every file entry to be written whose name a regular file has, in archive order: those that may
// be replaced, and the names of those that must stay. A folder that does not exist holds no clash.
Clashes FindClashes(std::vector<PlannedEntry>& plan, int destinationFd, const NeverReplaced& kept) {
  Clashes clashes;
  FolderCache folders(destinationFd);
  for (PlannedEntry& entry : plan) {
    if (entry.step != EntryStep::kWrite || entry.kind != EntryKind::kFile) continue;
    int folder = folders.FindParent(entry.path);
    struct stat status;
    if (folder < 0 ||
        fstatat(folder, entry.path.components.back().c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
      continue;
    }
    if (IsKept(status, entry, kept)) {
      clashes.kept.push_back(PrintableName(entry.name));
    } else {
      clashes.replaceable.push_back({&entry, {status.st_dev, status.st_ino}});
    }
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

ClashOutcome Ask(const Clashes& found, ClashQuestion& question) {
  const std::vector<Clash>& clashes = found.replaceable;
  switch (question.AskAll(clashes.size(), found.kept)) {
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
  // Files that must stay and nothing else in the way need no question: the report lists them.
  Clashes clashes = FindClashes(plan, destinationFd, kept);
  if (clashes.replaceable.empty()) return ClashOutcome::kDecided;
  return Ask(clashes, *question);
}

}  // namespace zipdrop
