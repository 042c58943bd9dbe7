// A throw-away folder tree for one extraction under the fuzzer, and the checks of what the
// extraction left in it.
#pragma once

#include <string>
#include <string_view>

namespace zipdrop {

/// A new folder zipdrop-fuzz-XXXXXX in the temporary folder ($TMPDIR or /tmp) that holds the
/// archive file and, several levels down, an empty destination folder: an entry that climbs out
/// of the destination by a few levels lands where the checks look.
class FuzzSandbox {
 public:
  explicit FuzzSandbox(std::string_view archiveBytes);
  /// Removes what is left after a failed check is reported elsewhere; never aborts.
  ~FuzzSandbox();
  FuzzSandbox(const FuzzSandbox&) = delete;
  FuzzSandbox& operator=(const FuzzSandbox&) = delete;

  const std::string& ArchivePath() const { return archivePath_; }
  const std::string& Destination() const { return destination_; }

  /// Aborts unless the sandbox outside the destination is exactly as it was made, and the
  /// destination holds only regular files and folders, none of them a temporary file.
  void CheckAfterExtraction() const;

  /// Removes the whole sandbox with the program's own folder removal; aborts when that fails or
  /// leaves anything behind.
  void RemoveAndCheck();

 private:
  std::string root_;
  std::string archivePath_;
  std::string destination_;
  std::string archiveBytes_;
  bool removed_ = false;
};

}  // namespace zipdrop
