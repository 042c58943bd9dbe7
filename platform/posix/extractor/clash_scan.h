// Before anything is written: which of the archive's files already exist, and what the user
// wants done with them.
#pragma once

#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "zipdrop/extractor/clashes.h"

namespace zipdrop {

/// The user's answer for the whole archive.
struct ClashDecision {
  std::vector<bool> replace;  // Per entry of the directory: whether it may replace the regular
                              // file that has its name. Empty when nothing is replaced.
  bool cancelled = false;
};

/// Finds the file entries whose name a regular file in the destination already has (never one of
/// the protected files) and asks the question about them, if there are any. Folders, links and
/// anything else in the way are not asked about: they are never replaced. Without a question
/// nothing is replaced.
ClashDecision DecideClashes(const CentralDirectory& directory, int destinationFd,
                            ClashQuestion* question,
                            const std::vector<FileIdentity>& protectedFiles);

}  // namespace zipdrop
