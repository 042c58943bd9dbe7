// Our own reading of a ZIP archive's central directory and local headers, done before anything is
// written. libarchive trusts what it reads entry by entry; this pass looks at the archive as a
// whole, which is what catches overlapping entries, headers that disagree and declared sizes that
// cannot fit, before the first byte reaches the disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zipdrop {

/// "Version made by" host systems whose external attributes carry a Unix st_mode.
inline constexpr std::uint8_t kHostUnix = 3;
inline constexpr std::uint8_t kHostMacOs = 19;

/// One entry as the central directory describes it: about 64 bytes plus its name in a shared pool,
/// so 100,000 entries cost a few megabytes.
struct CentralEntry {
  std::uint64_t localHeaderOffset = 0;  // In the file, leading self-extractor bytes included.
  std::uint64_t dataOffset = 0;         // Where the data starts; known after CheckEntryLayout.
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint64_t nameOffset = 0;  // Into the directory's name pool.
  std::uint32_t crc = 0;
  std::uint32_t externalAttributes = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint8_t host = 0;
  bool hasUnicodePath = false;    // An Info-ZIP Unicode path field (0x7075) may rename it.
  bool localNameDiffers = false;  // Known after CheckEntryLayout.

  bool IsEncrypted() const { return (flags & 0x0001) != 0; }
  bool HasUtf8Name() const { return (flags & 0x0800) != 0; }
  bool HasUnixMode() const { return host == kHostUnix || host == kHostMacOs; }
};

/// The entries of one archive, sorted by local header offset: the order in which libarchive's
/// seekable reader walks them, so the n-th entry it returns is entries[n].
struct CentralDirectory {
  std::vector<CentralEntry> entries;
  std::string namePool;
  std::uint64_t directoryOffset = 0;  // Where the central directory really starts in the file.
  std::uint64_t endRecordOffset = 0;  // Where the chosen end record starts.
  std::uint64_t prefixLength = 0;     // Bytes before the archive proper (a self-extractor stub).

  /// The entry's raw name bytes, as the central directory stores them.
  std::string_view NameOf(const CentralEntry& entry) const {
    return std::string_view(namePool).substr(entry.nameOffset, entry.nameLength);
  }
  /// The end of the archive proper: its end record, without the comment or anything after it.
  std::uint64_t ArchiveEnd() const { return endRecordOffset + 22; }
  /// The sum of the declared uncompressed sizes, saturating rather than wrapping around.
  std::uint64_t DeclaredTotalSize() const;
};

/// Reads the central directory of the archive open at fd through a bounded buffer. Throws
/// PlatformError when no end record whose central directory parses can be found.
CentralDirectory ReadCentralDirectory(int fd);

/// What the layout of the entries in the file says about the archive.
enum class LayoutProblem {
  kNone,
  kOverlap,             // Two entries share bytes, or one runs into the central directory.
  kMissingLocalHeader,  // An entry points where no local header is.
};

/// Reads each entry's local header (its fixed part and name), fills dataOffset and
/// localNameDiffers, and checks that no two entries share any byte of the file.
LayoutProblem CheckEntryLayout(int fd, CentralDirectory& directory);

/// Little-endian fields of ZIP records.
std::uint16_t ReadLe16(const char* bytes);
std::uint32_t ReadLe32(const char* bytes);
std::uint64_t ReadLe64(const char* bytes);

/// pread until count bytes are read; false on a short file or an error.
bool ReadFullyAt(int fd, char* buffer, std::size_t count, std::uint64_t offset);

}  // namespace zipdrop
