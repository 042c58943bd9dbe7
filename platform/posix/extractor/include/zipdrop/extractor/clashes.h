// Files of an archive that already exist in the destination: the question the user is asked about
// them, and the files no answer may replace.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zipdrop {

/// What to do with every file of the archive that already exists.
enum class ClashChoice {
  kReplace,     // Replace them all.
  kSkip,        // Leave them all as they are.
  kDecideEach,  // Ask about each file by its name.
  kCancel,      // Extract nothing: the run is cancelled.
};

/// What to do with one file that already exists, and perhaps with those after it.
enum class FileClashChoice { kReplace, kSkip, kReplaceRest, kSkipRest, kCancel };

/// Asks the user about files that already exist; the platform's dialog or terminal question.
class ClashQuestion {
 public:
  virtual ~ClashQuestion() = default;
  /// Asked once, before anything is written, when count files of the archive already exist that
  /// an answer may replace. kept names, in archive order and printable, the files that exist too
  /// but that no answer replaces, so that "replace" does not promise them; they are not counted.
  virtual ClashChoice AskAll(std::uint64_t count, const std::vector<std::string>& kept) = 0;
  /// Asked for each such file after kDecideEach. name is the entry's printable name; remaining
  /// counts this file and those still to be asked about.
  virtual FileClashChoice AskOne(const std::string& name, std::uint64_t remaining) = 0;
};

/// A file known by its device and inode.
struct FileIdentity {
  dev_t device;
  ino_t inode;
};

/// The files that no answer replaces: the running program, its launcher and the launcher's icon,
/// which a user extracting into the program's own folder may not have in mind. The archive being
/// read is never replaced either; the extractor adds it itself.
struct NeverReplaced {
  std::vector<FileIdentity> files;
  /// Keeps every file directly in the destination as well: where the files that must stay cannot
  /// be identified (the running program without /proc), any of those might be one of them.
  bool topFolder = false;
};

}  // namespace zipdrop
