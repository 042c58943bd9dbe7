// The extractor's vocabulary: why an entry was skipped or an archive refused, and the report of
// one extraction. Every part of the extractor speaks it; none of them needs the entry point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zipdrop {

/// Why an entry was not extracted.
enum class SkipReason {
  kLeavesFolder,    // Absolute, with a drive letter, or with a ".." component.
  kEmptyName,       // Nothing left of the name once "." and empty components are dropped.
  kUnusableName,    // A NUL or control character in the name, or a name too long to create.
  kLink,            // Symlinks and hard links are never created.
  kEncrypted,       // Encrypted, and no password was given (cancelled, or no one to ask).
  kWrongPassword,   // Encrypted with a password other than the ones given.
  kUnreadableData,  // A bad CRC, a truncated archive or a compression method we cannot read.
  kTooLarge,        // The data grew past the size the archive declared.
  kAlreadyExists,   // Something already has the name; it is left untouched.
  kBlockedPath,     // A symlink or a file stands where a folder of the path should be.
  kWriteFailed,     // The file system refused for another reason.
  kDiskFull,        // No space was left: this entry and every later one, not attempted.
  kCancelled,       // The user cancelled the extraction while this entry was being written.
  kArchiveDamaged,  // The archive could not be read past this point; these entries are lost.
};

/// Why a whole archive was refused before anything was written.
enum class RefusalReason {
  kOverlappingEntries,  // Entries share bytes of the file: the shape of a zip bomb.
  kMissingLocalHeader,  // An entry points where the archive has no entry.
  kNotEnoughSpace,      // The declared sizes add up to more than the destination has free.
};

struct Refusal {
  RefusalReason reason;
  std::uint64_t bytesNeeded = 0;  // For kNotEnoughSpace: the declared total and the free space.
  std::uint64_t bytesFree = 0;
};

/// What one extraction did. Only the entries left out are named, so that the user can be shown
/// every one of them; the entries written are only counted, which keeps a huge archive's report
/// small when it comes out whole.
struct ExtractionReport {
  struct Skipped {
    SkipReason reason;
    std::uint64_t count = 0;
    std::vector<std::string> names;  // Every named entry, as printable UTF-8, in archive order.
    // The count is only the least number: the archive broke off where more entries may have
    // followed unseen (kArchiveDamaged).
    bool moreMayBeLost = false;
  };
  std::uint64_t filesWritten = 0;
  std::uint64_t foldersCreated = 0;
  std::vector<Skipped> skipped;    // One element per reason met, in the order first met.
  std::optional<Refusal> refusal;  // Set when nothing at all was extracted, and why.

  /// Counts one skipped entry.
  void Skip(SkipReason reason, const std::string& name);
  /// Tells that entries may have been left out for the reason beyond those counted.
  void MarkMoreMayBeLost(SkipReason reason);
  /// Adds what another report (of a part of the same archive) skipped; the names stay in archive
  /// order as long as the parts are merged in the order of their entries.
  void Merge(const ExtractionReport& part);
  /// The number of entries skipped for the reason (0 when none).
  std::uint64_t SkippedFor(SkipReason reason) const;
};

}  // namespace zipdrop
