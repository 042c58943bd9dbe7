// Our reading of a ZIP archive's central directory: the one account of the archive the extractor
// goes by. The entry list, the names, the sizes and where each entry's data lies all come from
// here; a local header is read for where its data starts, and its method, sizes and CRC only when
// the central ones fail to decode the data (see entry_layout.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

/// "Version made by" host systems whose external attributes carry a Unix st_mode.
inline constexpr std::uint8_t kHostUnix = 3;
inline constexpr std::uint8_t kHostMacOs = 19;

/// One entry as the central directory describes it: 64 bytes plus its name in a shared pool, so
/// 100,000 entries cost a few megabytes.
struct CentralEntry {
  std::uint64_t localHeaderOffset = 0;  // In the file, leading self-extractor bytes included.
  std::uint64_t dataOffset = 0;         // Where the data starts; known after CheckEntryLayout.
  std::uint64_t compressedSize = 0;     // After CheckEntryLayout: the bytes its decoder may read.
  std::uint64_t uncompressedSize = 0;
  std::uint64_t nameOffset = 0;  // Into the directory's name pool.
  std::uint32_t crc = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t modified = 0;  // A Unix time when unixTime is set, else DOS date << 16 | time.
  std::uint16_t nameLength = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint8_t host = 0;
  bool unixTime = false;

  bool IsEncrypted() const { return (flags & kFlagEncrypted) != 0; }
  bool HasUtf8Name() const { return (flags & kFlagUtf8) != 0; }
  bool HasUnixMode() const { return host == kHostUnix || host == kHostMacOs; }
};

/// The entries of one archive, sorted by local header offset.
struct CentralDirectory {
  std::vector<CentralEntry> entries;
  std::string namePool;
  std::uint64_t directoryOffset = 0;  // Where the central directory starts in the file; where
                                      // the last recovered entry ends when there is none.
  std::uint64_t prefixLength = 0;     // Bytes before the archive proper (a self-extractor stub).
  // The archive breaks off (cut short or broken) where more entries may have followed unseen.
  bool damaged = false;
  // The raw names of the entries known to be lost, in archive order; an empty one for an entry
  // whose header was cut before its name.
  std::vector<std::string> lostNames;

  /// The entry's name bytes: the Info-ZIP Unicode path when one applies, else the raw name.
  std::string_view NameOf(const CentralEntry& entry) const {
    return std::string_view(namePool).substr(entry.nameOffset, entry.nameLength);
  }
  /// The sum of the declared uncompressed sizes, saturating rather than wrapping around.
  std::uint64_t DeclaredTotalSize() const;
};

/// Reads the central directory of the archive open at fd through a bounded buffer, tolerating
/// what real writers get wrong: entry counts, the directory's offset or size, disk numbers, the
/// comment's length, a damaged end record, odd extra fields. When no central directory can be
/// found at all (a download cut short), the entries are recovered from the local headers, and
/// damaged tells that some were lost. Throws ExtractorError when neither finds a ZIP archive.
CentralDirectory ReadCentralDirectory(int fd);

/// Recovers the entries from the local headers alone, front to back, up to the first one that is
/// cut short or unreadable. Used by ReadCentralDirectory; empty when no local header is found.
CentralDirectory RecoverFromLocalHeaders(int fd, std::uint64_t fileSize);

/// Appends the entry and its name to the directory.
void AddEntry(CentralDirectory& directory, CentralEntry entry, std::string_view name);

/// Sorts the entries by where their local headers are, the order the file is best read in.
void SortByOffset(CentralDirectory& directory);

}  // namespace zipdrop
