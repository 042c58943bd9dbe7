// The words for what an extraction left out, shared by the summary on standard error and the
// report dialog.
#pragma once

#include <cstdint>
#include <string>

#include "zipdrop/extractor/extraction_report.h"

namespace zipdrop {

/// Why entries were skipped, in a few Japanese words.
const char* DescribeReason(SkipReason reason);

/// A number of entries, e.g. "3 件"; "3 件以上" when more may have been lost unseen, and
/// "件数不明の項目" when only that is known.
std::string DescribeCount(std::uint64_t count, bool moreMayBeLost);

/// Everything the report left out, all reasons together, as DescribeCount words it; empty when
/// nothing was left out.
std::string DescribeTotal(const ExtractionReport& report);

/// Said of entries lost with the damaged part of an archive, after any names.
extern const char kMoreMayBeLost[];

/// Why the whole archive was refused, in Japanese.
std::string DescribeRefusalReason(const Refusal& refusal);

/// A size as the Windows Explorer shows it, e.g. "512 バイト" or "1.5 MB".
std::string DescribeSize(std::uint64_t bytes);

/// The one summary that goes to standard error, in Japanese; empty when nothing was skipped or
/// refused.
std::string DescribeSkipped(const ExtractionReport& report);

}  // namespace zipdrop
