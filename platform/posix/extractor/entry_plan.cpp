#include "platform/posix/extractor/entry_plan.h"

#include <unordered_map>

namespace zipdrop {

namespace {

std::optional<SkipReason> ReasonFromName(NameProblem problem) {
  switch (problem) {
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

// The entry's own rules: its name and its kind.
void JudgeAlone(PlannedEntry& planned) {
  // Most tools that show the name stop at a NUL, so the name the user would see is not the one
  // that would be written.
  if (planned.name.find('\0') != std::string::npos) {
    planned.skipped = SkipReason::kUnusableName;
  } else if (planned.kind == EntryKind::kLink) {
    planned.skipped = SkipReason::kLink;
  } else if (planned.kind == EntryKind::kFolder && planned.path.problem == NameProblem::kEmpty) {
    planned.step = EntryStep::kNothing;
    return;
  } else {
    planned.skipped = ReasonFromName(planned.path.problem);
  }
  if (planned.skipped) planned.step = EntryStep::kSkip;
}

// The paths the entries met so far take: a file's own path, and the folders of every path.
// Workers write the entries in any order, so a later entry that would meet an earlier one on
// disk is judged here, where the archive's order is still known.
class TakenPaths {
 public:
  std::optional<SkipReason> Take(const EntryPath& path, EntryKind kind) {
    std::size_t folders = path.components.size() - 1;
    for (std::size_t count = 1; count <= folders; ++count) {
      auto found = taken_.find(path.Joined(count));
      if (found != taken_.end() && found->second == EntryKind::kFile) {
        return SkipReason::kBlockedPath;
      }
    }
    std::string own = path.Joined();
    auto found = taken_.find(own);
    if (found != taken_.end() && (kind == EntryKind::kFile || found->second == EntryKind::kFile)) {
      return SkipReason::kAlreadyExists;
    }
    for (std::size_t count = 1; count <= folders; ++count) {
      taken_.emplace(path.Joined(count), EntryKind::kFolder);
    }
    taken_.emplace(std::move(own), kind);
    return std::nullopt;
  }

 private:
  std::unordered_map<std::string, EntryKind> taken_;
};

}  // namespace

std::vector<PlannedEntry> PlanEntries(const CentralDirectory& directory) {
  std::vector<PlannedEntry> plan(directory.entries.size());
  TakenPaths taken;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const CentralEntry& entry = directory.entries[i];
    PlannedEntry& planned = plan[i];
    planned.name = DecodeEntryName(directory.NameOf(entry));
    planned.kind = KindOf(entry, planned.name);
    planned.path = SplitEntryPath(planned.name);
    JudgeAlone(planned);
    if (planned.step != EntryStep::kWrite) continue;
    planned.skipped = taken.Take(planned.path, planned.kind);
    if (planned.skipped) planned.step = EntryStep::kSkip;
  }
  return plan;
}

}  // namespace zipdrop
