#include "platform/posix/extractor/entry_layout.h"

#include <algorithm>
#include <vector>

#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

namespace {

constexpr std::size_t kProbeBlock = 64 * 1024;

// Decodes the entry with its bytes bounded by `end`, throwing the output away, and tells whether
// the stream wanted more bytes than that. Output past the declared size ends the probe: such an
// entry is stopped when it is extracted, and decoding it further here would only cost time.
bool RunsPast(int fd, const CentralEntry& entry, std::uint64_t end) {
  DecoderSet decoders;
  MethodDecoder* decoder = decoders.For(entry.method);
  if (decoder == nullptr) return true;
  CentralEntry bounded = entry;
  bounded.compressedSize = end - entry.dataOffset;
  std::vector<unsigned char> input;
  std::vector<char> output(kProbeBlock);
  EntryStream stream(fd, bounded, *decoder, input);
  std::uint64_t total = 0;
  for (;;) {
    std::ptrdiff_t count = stream.Read(output.data(), output.size());
    if (count <= 0) return count < 0 && stream.RanOutOfInput();
    total += static_cast<std::uint64_t>(count);
    if (total > entry.uncompressedSize) return false;
  }
}

// The bytes an entry's decoder may read, or nothing when they belong to the next entry too.
// Stored data is no longer than the smaller of its two sizes (the decoder fails on the first one
// that is wrong); for encrypted entries and methods without a
// decoder nothing can be judged, and the bound alone keeps them in their place.
std::optional<std::uint64_t> DataLength(int fd, const CentralEntry& entry, std::uint64_t end) {
  std::uint64_t room = end - entry.dataOffset;
  bool stored = entry.method == kMethodStored && !entry.IsEncrypted();
  std::uint64_t declared =
      stored ? std::min(entry.compressedSize, entry.uncompressedSize) : entry.compressedSize;
  if (declared <= room) return declared;
  if (stored) return std::nullopt;
  if (entry.IsEncrypted() || DecoderSet().For(entry.method) == nullptr) return room;
  if (RunsPast(fd, entry, end)) return std::nullopt;
  return room;
}

}  // namespace

// Entries are sorted by local header offset, so each must lie wholly before the next begins. This
// refuses the overlapping-entry bombs, where many central records point at one local header or
// each entry's data contains the next entry's header, so that a few kilobytes of deflate stream
// are decompressed over and over.
LayoutProblem CheckEntryLayout(int fd, CentralDirectory& directory) {
  std::vector<CentralEntry>& entries = directory.entries;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    CentralEntry& entry = entries[i];
    std::uint64_t end =
        i + 1 < entries.size() ? entries[i + 1].localHeaderOffset : directory.directoryOffset;
    if (entry.localHeaderOffset >= end) return LayoutProblem::kOverlap;
    std::optional<LocalHeader> header = ReadLocalHeader(fd, entry.localHeaderOffset, false);
    if (!header) return LayoutProblem::kMissingLocalHeader;
    entry.dataOffset = header->dataOffset;
    if (entry.dataOffset > end) return LayoutProblem::kOverlap;
    std::optional<std::uint64_t> length = DataLength(fd, entry, end);
    if (!length) return LayoutProblem::kOverlap;
    entry.compressedSize = *length;
  }
  return LayoutProblem::kNone;
}

}  // namespace zipdrop
