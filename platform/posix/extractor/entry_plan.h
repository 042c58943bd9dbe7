// What will be done with each entry of an archive, judged once before anything is written. The
// clash scan, the password sample, the workers and the report all read this one judgement, so
// that they cannot disagree about an entry.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/entry_kind.h"
#include "platform/posix/extractor/entry_names.h"
#include "zipdrop/extractor/clashes.h"
#include "zipdrop/extractor/extraction_report.h"

namespace zipdrop {

/// What becomes of one entry.
enum class EntryStep {
  kWrite,    // A file or folder is written at path.
  kSkip,     // Left out, and reported with skipped.
  kNothing,  // A folder entry that names the destination itself ("./"): it exists already.
};

/// One entry of the directory, judged.
struct PlannedEntry {
  std::string name;  // Decoded to UTF-8, as the user is told it.
  EntryKind kind = EntryKind::kFile;
  EntryPath path;
  EntryStep step = EntryStep::kWrite;
  std::optional<SkipReason> skipped;  // Why, for kSkip.
  // The regular file that the entry may replace, as the clash question saw it; nothing is
  // replaced when another file has taken its place since.
  std::optional<FileIdentity> replaces;
};

/// Judges every entry of the directory, in archive order. A later entry whose path an earlier one
/// already takes (or runs through, as a file) is left out: the first entry in archive order is the
/// one written, whichever worker reaches it first.
std::vector<PlannedEntry> PlanEntries(const CentralDirectory& directory);

}  // namespace zipdrop
