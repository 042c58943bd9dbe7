// Where each entry's bytes really lie in the file, checked before anything is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/posix/extractor/central_directory.h"

namespace zipdrop {

/// What the layout of the entries in the file says about the archive.
enum class LayoutProblem {
  kNone,
  kOverlap,             // Two entries share bytes: a local header, or data a decoder consumes.
  kMissingLocalHeader,  // An entry points where no local header is.
};

/// Reads each entry's local header for where its data starts, and bounds each entry's data by
/// the next entry's local header (or the central directory): compressedSize becomes the number
/// of bytes its decoder may read. Declared sizes that reach past that bound are judged by what the
/// decoder actually consumes: a stream that ends before the bound is an archive with a wrong
/// size, one that runs over it quotes another entry's bytes, the layout of overlap zip bombs.
/// An entry that points where no local header is makes the whole directory give way to the
/// entries recovered from the local headers, as for an archive whose directory was lost; only
/// when none can be recovered is kMissingLocalHeader returned.
LayoutProblem CheckEntryLayout(int fd, CentralDirectory& directory);

/// Where the bytes of entries[index] must end: at the next entry's local header, or at the
/// central directory. Valid once CheckEntryLayout has passed.
std::uint64_t DataBound(const CentralDirectory& directory, std::size_t index);

/// The entry as its local header describes it, for when the central directory's values fail to
/// decode: the method, and the sizes and CRC unless they follow the data. Its bytes stay within
/// bound, and its size within the larger of the central one and those bytes, so that a local
/// header cannot make the extractor write more than the archive declares. Nothing when the local
/// header says nothing other than the central record.
std::optional<CentralEntry> LocalReading(int fd, const CentralEntry& entry, std::uint64_t bound);

}  // namespace zipdrop
