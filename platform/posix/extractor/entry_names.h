// The names of ZIP entries: from the bytes in the archive to a checked, relative path.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "zipdrop/extractor/printable_name.h"

namespace zipdrop {

/// Turns an entry's name bytes into UTF-8. Bytes that already are valid UTF-8 stay as they are;
/// otherwise the name is read as CP932 (what Japanese Windows writes) when every byte of it is
/// valid CP932, and as CP437 (the format's original code page) when it is not.
std::string DecodeEntryName(std::string_view bytes);

/// Why a name cannot be extracted, if it cannot.
enum class NameProblem { kNone, kLeavesFolder, kEmpty, kUnusable };

/// A name split into the components of a relative path.
struct EntryPath {
  std::vector<std::string> components;  // Never empty, "." or ".." when problem is kNone.
  NameProblem problem = NameProblem::kNone;

  /// The components joined with '/', or the folder part only (all but the last).
  std::string Joined(size_t count) const;
  std::string Joined() const { return Joined(components.size()); }
};

/// Splits a decoded name at '/' and '\' (archives made on Windows use both), dropping empty and
/// "." components. Absolute names, names with a drive letter ("C:") and names with a ".."
/// component are refused as leaving the folder; a name with nothing left is refused as empty; a
/// name with a control character, a component longer than NAME_MAX or a path longer than PATH_MAX
/// is refused as unusable.
EntryPath SplitEntryPath(std::string_view name);

}  // namespace zipdrop
