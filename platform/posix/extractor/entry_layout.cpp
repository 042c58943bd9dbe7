#include "platform/posix/extractor/entry_layout.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/posix/extractor/decoder_set.h"
#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/read_at.h"
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
// decoder nothing can be judged, and the bound alone keeps them in their place. Stored data that
// would run past the bound still keeps to it when its local header gives sizes that fit: the
// central ones are then merely wrong, and the local reading is tried when the entry is extracted.
std::optional<std::uint64_t> DataLength(int fd, const CentralEntry& entry, std::uint64_t end) {
  std::uint64_t room = end - entry.dataOffset;
  bool stored = entry.method == kMethodStored && !entry.IsEncrypted();
  std::uint64_t declared =
      stored ? std::min(entry.compressedSize, entry.uncompressedSize) : entry.compressedSize;
  if (declared <= room) return declared;
  if (stored) return LocalReading(fd, entry, end) ? std::optional(room) : std::nullopt;
  if (entry.IsEncrypted() || DecoderSet().For(entry.method) == nullptr) return room;
  if (RunsPast(fd, entry, end)) return std::nullopt;
  return room;
}

bool EveryLocalHeaderIsThere(int fd, const CentralDirectory& directory) {
  for (const CentralEntry& entry : directory.entries) {
    if (!ReadLocalHeader(fd, entry.localHeaderOffset, LocalHeaderParts::kFixedFields)) return false;
  }
  return true;
}

// Entries are sorted by local header offset, so each must lie wholly before the next begins. This
// refuses the overlapping-entry bombs, where many central records point at one local header or
// each entry's data contains the next entry's header, so that a few kilobytes of deflate stream
// are decompressed over and over.
LayoutProblem CheckEachEntry(int fd, CentralDirectory& directory) {
  std::vector<CentralEntry>& entries = directory.entries;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    CentralEntry& entry = entries[i];
    std::uint64_t end = DataBound(directory, i);
    if (entry.localHeaderOffset >= end) return LayoutProblem::kOverlap;
    std::optional<LocalHeader> header =
        ReadLocalHeader(fd, entry.localHeaderOffset, LocalHeaderParts::kFixedFields);
    if (!header) return LayoutProblem::kMissingLocalHeader;
    entry.dataOffset = header->dataOffset;
    if (entry.dataOffset > end) return LayoutProblem::kOverlap;
    std::optional<std::uint64_t> length = DataLength(fd, entry, end);
    if (!length) return LayoutProblem::kOverlap;
    entry.compressedSize = *length;
  }
  return LayoutProblem::kNone;
}

// The central directory lists every entry, so the entries it names that the local headers no
// longer hold are the ones lost, and no others. Names are matched as the two headers spell them;
// when the unmatched ones do not make up the difference, what the walk found stands.
void NameTheLostFromTheListing(const CentralDirectory& listed, CentralDirectory& recovered) {
  std::unordered_set<std::string_view> found;
  for (const CentralEntry& entry : recovered.entries) found.insert(recovered.NameOf(entry));
  std::vector<std::string> lost;
  for (const CentralEntry& entry : listed.entries) {
    if (!found.contains(listed.NameOf(entry))) lost.emplace_back(listed.NameOf(entry));
  }
  if (lost.size() + recovered.entries.size() != listed.entries.size()) return;
  recovered.lostNames = std::move(lost);
  recovered.damaged = false;
}

}  // namespace

// A directory whose offsets point where no entry is (a writer that got them wrong, or bytes lost
// before the entries) still leaves the entries themselves in place, one after the other; other
// readers find them by their local headers, and so do we. Such an offset can show as an overlap
// before its own entry is reached, so any failed check looks for missing local headers before it
// stands. Overlap bombs keep their local headers, and stay refused.
LayoutProblem CheckEntryLayout(int fd, CentralDirectory& directory) {
  LayoutProblem problem = CheckEachEntry(fd, directory);
  if (problem == LayoutProblem::kNone || EveryLocalHeaderIsThere(fd, directory)) return problem;
  CentralDirectory recovered = RecoverFromLocalHeaders(fd, FileSize(fd));
  if (recovered.entries.empty()) return problem;
  NameTheLostFromTheListing(directory, recovered);
  directory = std::move(recovered);
  return CheckEachEntry(fd, directory);
}

std::uint64_t DataBound(const CentralDirectory& directory, std::size_t index) {
  const std::vector<CentralEntry>& entries = directory.entries;
  return index + 1 < entries.size() ? entries[index + 1].localHeaderOffset
                                    : directory.directoryOffset;
}

std::optional<CentralEntry> LocalReading(int fd, const CentralEntry& entry, std::uint64_t bound) {
  std::optional<LocalHeader> header =
      ReadLocalHeader(fd, entry.localHeaderOffset, LocalHeaderParts::kWithNameAndExtra);
  if (!header || header->dataOffset != entry.dataOffset || entry.dataOffset > bound) {
    return std::nullopt;
  }
  CentralEntry local = entry;
  local.method = header->method;
  if ((header->flags & kFlagDataDescriptor) == 0) {
    local.crc = header->crc;
    local.compressedSize = header->compressedSize;
    local.uncompressedSize = header->uncompressedSize;
  }
  std::uint64_t room = bound - entry.dataOffset;
  if (local.method == kMethodStored) {
    local.compressedSize = std::min(local.compressedSize, local.uncompressedSize);
    if (local.compressedSize > room) return std::nullopt;
  }
  local.compressedSize = std::min(local.compressedSize, room);
  if (local.uncompressedSize > std::max(entry.uncompressedSize, room)) return std::nullopt;
  bool same = local.method == entry.method && local.crc == entry.crc &&
              local.compressedSize == entry.compressedSize &&
              local.uncompressedSize == entry.uncompressedSize;
  if (same) return std::nullopt;
  return local;
}

}  // namespace zipdrop
