// The whole report of what an extraction left out, as scrollable text in a window of a fixed size
// that fits a small screen: a message box grows with its text until its OK button leaves the
// screen, and a list cut short hides the entries the user most needs to know about.
#pragma once

#include <cstddef>
#include <string>

#include "zipdrop/extractor/extraction_report.h"

namespace zipdrop {

/// The name, shortened in its middle to at most maxCharacters characters when it is longer, so
/// that both its folder and its file name still show: "very/long/fol…/file.txt".
std::string ShortenedName(const std::string& name, std::size_t maxCharacters = 72);

/// The report's text: a line of totals first, then every reason with its count and every entry
/// left out for it, one per line. Empty when nothing was left out.
std::string ReportText(const ExtractionReport& report, const std::string& archiveName);

/// Shows the text in a scrollable window of a dialog program (dialog_programs.h) fed through
/// the program's standard input, and returns once the user has closed it; false when no display
/// answers or no dialog program works. No dialog program is run from programFolder.
bool ShowTextWindow(const std::string& text, const std::string& title,
                    const std::string& programFolder);

}  // namespace zipdrop
