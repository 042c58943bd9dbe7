// After an extraction, one window that tells a desktop user what was left out and why: the
// summary on standard error reaches no one who started zipdrop from a file manager.
#pragma once

#include <string>

#include "zipdrop/extractor/extraction_report.h"

namespace zipdrop {

/// The message for an archive refused as a whole, before anything was written.
std::string RefusalText(const Refusal& refusal, const std::string& archiveName);

/// Shows the report when a display accepts us: a refusal in a message box, the entries left out as
/// scrollable text (see ReportText). Otherwise (or when no dialog program works) writes the
/// summary to standard error. Nothing is shown when everything came out. No dialog program is run
/// from untrustedFolder, which has just received the archive's files.
void ReportSkipped(const ExtractionReport& report, const std::string& archiveName,
                   const std::string& untrustedFolder);

}  // namespace zipdrop
