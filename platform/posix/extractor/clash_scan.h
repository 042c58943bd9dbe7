// Before anything is written: which of the archive's files already exist, and what the user
// wants done with them.
#pragma once

#include <vector>

#include "platform/posix/extractor/entry_plan.h"
#include "zipdrop/extractor/clashes.h"

namespace zipdrop {

/// Whether the extraction goes on after the question.
enum class ClashOutcome { kDecided, kCancelled };

/// Finds the file entries of the plan whose name a regular file in the destination already has
/// (never one of those in kept) and asks the question about them, if there are any. Each entry the
/// user lets replace its file is given that file's identity. Folders, links and anything else in
/// the way are not asked about: they are never replaced. Without a question nothing is replaced.
ClashOutcome DecideClashes(std::vector<PlannedEntry>& plan, int destinationFd,
                           ClashQuestion* question, const NeverReplaced& kept);

}  // namespace zipdrop
