// Where each entry's bytes really lie in the file, checked before anything is written.
#pragma once

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
LayoutProblem CheckEntryLayout(int fd, CentralDirectory& directory);

}  // namespace zipdrop
