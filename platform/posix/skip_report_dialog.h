// After an extraction, one dialog that tells a desktop user what was left out and why: the
// summary on standard error reaches no one who started zipdrop from a file manager.
#pragma once

#include <cstddef>
#include <string>

#include "platform/posix/extractor/extraction_report.h"

namespace zipdrop {

/// The report's text: how many entries of archiveName were left out, then each reason with its
/// count and the names kept for it, at most maxNames names in all, then the number of named
/// entries that found no room. A count that is only the least number says so. Empty when nothing
/// was left out.
std::string SkipReportText(const ExtractionReport& report, const std::string& archiveName,
                           std::size_t maxNames = 20);

/// Shows the report in a dialog when a display accepts us, and otherwise (or when no dialog program
/// works) writes the summary to standard error. Nothing is shown when everything came out. No
/// dialog program is run from untrustedFolder, which has just received the archive's files.
void ReportSkipped(const ExtractionReport& report, const std::string& archiveName,
                   const std::string& untrustedFolder);

}  // namespace zipdrop
