// The layout check of the pre-scan: where each entry's bytes really lie in the file.
#include <cstring>
#include <string>

#include "platform/posix/central_directory.h"

namespace zipdrop {

namespace {

constexpr std::size_t kLocalHeaderSize = 30;

// Reads the local header of one entry, with as many name bytes as the central directory gives the
// entry, in one pread. Returns false when no local header is there.
bool ReadLocalHeader(int fd, const CentralDirectory& directory, CentralEntry& entry,
                     std::string& buffer) {
  if (entry.localHeaderOffset > directory.directoryOffset ||
      directory.directoryOffset - entry.localHeaderOffset < kLocalHeaderSize) {
    return false;
  }
  std::uint64_t room = directory.directoryOffset - entry.localHeaderOffset;
  std::size_t wanted = kLocalHeaderSize + entry.nameLength;
  if (wanted > room) wanted = kLocalHeaderSize;  // The name check below then fails by length.
  buffer.resize(wanted);
  if (!ReadFullyAt(fd, buffer.data(), wanted, entry.localHeaderOffset)) return false;
  if (std::memcmp(buffer.data(), "PK\3\4", 4) != 0) return false;
  std::uint16_t nameLength = ReadLe16(buffer.data() + 26);
  std::uint16_t extraLength = ReadLe16(buffer.data() + 28);
  entry.dataOffset = entry.localHeaderOffset + kLocalHeaderSize + nameLength + extraLength;
  // libarchive takes the name from the local header and the sizes from the central directory:
  // an entry whose two names differ is one whose checked name is not the one written.
  entry.localNameDiffers =
      nameLength != entry.nameLength || wanted != kLocalHeaderSize + nameLength ||
      std::string_view(buffer).substr(kLocalHeaderSize) != directory.NameOf(entry);
  return true;
}

}  // namespace

// Entries are sorted by local header offset, so each must end before the next begins. This
// refuses the overlapping-entry bombs, where many central records point at one local header or
// each entry's data contains the next entry's header, so that a few kilobytes of deflate stream
// are decompressed over and over; libarchive would extract every one of them.
LayoutProblem CheckEntryLayout(int fd, CentralDirectory& directory) {
  std::string buffer;
  std::uint64_t previousEnd = directory.prefixLength;
  for (CentralEntry& entry : directory.entries) {
    if (entry.localHeaderOffset < previousEnd) return LayoutProblem::kOverlap;
    if (!ReadLocalHeader(fd, directory, entry, buffer)) return LayoutProblem::kMissingLocalHeader;
    if (entry.dataOffset > directory.directoryOffset ||
        entry.compressedSize > directory.directoryOffset - entry.dataOffset) {
      return LayoutProblem::kOverlap;
    }
    previousEnd = entry.dataOffset + entry.compressedSize;
  }
  return LayoutProblem::kNone;
}

}  // namespace zipdrop
