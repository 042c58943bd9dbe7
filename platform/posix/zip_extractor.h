// Extraction of a ZIP archive into a folder: what "CopyHere" does on POSIX.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zipdrop {

/// What one extraction did. Kept bounded whatever the number of entries: the reasons are counted,
/// and only the first few names of each are kept for the summary.
struct ExtractionReport {
  struct Skipped {
    std::string reason;              // Short English phrase, e.g. "name leaves the folder".
    std::uint64_t count = 0;
    std::vector<std::string> names;  // The first few names, as printable UTF-8.
  };
  std::uint64_t filesWritten = 0;
  std::uint64_t foldersCreated = 0;
  std::vector<Skipped> skipped;
};

/// True when the path names a regular file that the ZIP reader can open as an archive.
bool IsZipArchive(const std::string& archivePath);

/// Extracts every safe entry of the archive into the existing folder destinationFolder. Throws
/// PlatformError when the archive or the folder cannot be opened at all; entries that cannot be
/// extracted safely are skipped and counted in the report.
ExtractionReport ExtractZipArchive(const std::string& archivePath,
                                   const std::string& destinationFolder);

/// The one summary that goes to standard error; empty when nothing was skipped.
std::string DescribeSkipped(const ExtractionReport& report);

}  // namespace zipdrop
