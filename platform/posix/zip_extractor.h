// Extraction of a ZIP archive into a folder: what "CopyHere" does on POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zipdrop {

class ExtractionProgress;

/// Why an entry was not extracted.
enum class SkipReason {
  kLeavesFolder,     // Absolute, with a drive letter, or with a ".." component.
  kEmptyName,        // Nothing left of the name once "." and empty components are dropped.
  kUnusableName,     // A NUL or control character in the name, or a name too long to create.
  kLink,             // Symlinks and hard links are never created.
  kSpecialFile,      // Devices, FIFOs and sockets.
  kEncrypted,
  kBadHeader,        // The reader flagged the entry's header, e.g. a name it could not convert.
  kUnreadableData,   // A bad CRC, a truncated archive or a compression method we cannot read.
  kTooLarge,         // The data grew past the size the archive declared.
  kAlreadyExists,    // Something already has the name; it is left untouched.
  kBlockedPath,      // A symlink or a file stands where a folder of the path should be.
  kNamesDisagree,    // The local header names the entry differently from the central directory.
  kWriteFailed,      // The file system refused for another reason.
  kDiskFull,         // No space was left: this entry and every later one, not attempted.
  kCancelled,        // The user cancelled while its data was being written; nothing was kept.
  kArchiveDamaged,   // The archive could not be read past this point; later entries are lost.
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

/// What one extraction did. Kept bounded whatever the number of entries: the reasons are counted,
/// and only the first few names of each are kept for the summary.
struct ExtractionReport {
  struct Skipped {
    SkipReason reason;
    std::uint64_t count = 0;
    std::vector<std::string> names;  // The first few names, as printable UTF-8.
  };
  std::uint64_t filesWritten = 0;
  std::uint64_t foldersCreated = 0;
  std::vector<Skipped> skipped;  // One element per reason met, in the order first met.
  std::optional<Refusal> refusal;  // Set when nothing at all was extracted, and why.

  /// Counts one skipped entry.
  void Skip(SkipReason reason, const std::string& name);
  /// The number of entries skipped for the reason (0 when none).
  std::uint64_t SkippedFor(SkipReason reason) const;
};

/// True when the path names a regular file that the ZIP reader can open as an archive.
bool IsZipArchive(const std::string& archivePath);

/// How an extraction is carried out. The defaults suit the machine and the archive; tests set
/// them to run the parallel path on small archives.
struct ExtractionTuning {
  std::size_t workers = 0;  // Threads, each with its own reader; 0 lets the archive's size and
                            // the machine's cores decide.
  std::uint64_t inMemoryLimit = 8 * 1024 * 1024;  // Entries up to this size are decoded whole
                                                  // in memory; larger ones are streamed.
  ExtractionProgress* progress = nullptr;  // When given, counts the bytes written and carries
                                           // the user's request to cancel.
};

/// Extracts every safe entry of the archive into the existing folder destinationFolder. Throws
/// PlatformError when the archive or the folder cannot be opened at all; entries that cannot be
/// extracted safely are skipped and counted in the report. Nothing is written outside the folder,
/// no link is created or followed, and nothing that already exists is replaced.
ExtractionReport ExtractZipArchive(const std::string& archivePath,
                                   const std::string& destinationFolder,
                                   const ExtractionTuning& tuning = {});

/// The one summary that goes to standard error, in Japanese; empty when nothing was skipped or
/// refused.
std::string DescribeSkipped(const ExtractionReport& report);

}  // namespace zipdrop
