// Extraction of a ZIP archive into a folder: what "CopyHere" does on POSIX. The entry point of the
// extractor; its vocabulary is in extraction_report.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zipdrop/extractor/clashes.h"
#include "zipdrop/extractor/extraction_progress.h"
#include "zipdrop/extractor/extraction_report.h"
#include "zipdrop/extractor/extractor_error.h"
#include "zipdrop/extractor/password_source.h"

namespace zipdrop {

struct ExtractionTuning;

/// An archive opened and its central directory read. The shell's Namespace opens it to tell an
/// archive from other files, and CopyHere extracts that same opened file: the archive is read
/// once, and a file put in its place between the two is never the one extracted.
class ZipArchive {
 public:
  /// Opens the archive and reads its central directory; throws ExtractorError when the path names
  /// no regular file, or none in which the extractor finds a ZIP archive.
  explicit ZipArchive(const std::string& archivePath);
  ZipArchive(ZipArchive&&) noexcept;
  ZipArchive& operator=(ZipArchive&&) noexcept;
  ~ZipArchive();

 private:
  struct Opened;
  friend ExtractionReport ExtractZipArchive(const ZipArchive& archive,
                                            const std::string& destinationFolder,
                                            const ExtractionTuning& tuning);
  std::unique_ptr<Opened> opened_;
};

/// The archive at the path, or nothing when the path names no regular file in which the
/// extractor finds a ZIP archive.
std::optional<ZipArchive> OpenZipArchive(const std::string& archivePath);

/// How an extraction is carried out. The defaults suit the machine and the archive; tests set
/// them to run the parallel path on small archives.
struct ExtractionTuning {
  std::size_t workers = 0;  // Threads; 0 lets the archive's size and the machine's cores decide.
  std::uint64_t inMemoryLimit = 8 * 1024 * 1024;   // Stored and deflated entries up to this size
                                                   // are decoded whole in memory; larger ones and
                                                   // other methods are streamed. Each worker
                                                   // holds at most this much plus the compressed
                                                   // bytes, so memory stays bounded.
  std::uint64_t readAheadSize = 32 * 1024 * 1024;  // When fewer workers than cores are at work,
                                                   // streamed entries this large are decoded a
                                                   // block ahead on a second thread; for smaller
                                                   // ones the thread costs more than it saves.
  ExtractionProgress* progress = nullptr;  // When given, counts the bytes written and carries
                                           // the user's Cancel to the workers.
  PasswordSource* passwords = nullptr;     // Asked for the passwords of encrypted entries; without
                                           // it they are skipped.
  ClashQuestion* clashes = nullptr;        // Asked, before anything is written, about the archive's
                                           // files that already exist; without it they are skipped.
  NeverReplaced neverReplaced = {};
};

/// Extracts every safe entry of the archive into the existing folder destinationFolder. Throws
/// ExtractorError when the archive or the folder cannot be opened at all; entries that cannot be
/// extracted safely are skipped and counted in the report. Nothing is written outside the folder,
/// no link is created or followed, and nothing that already exists is replaced, except a regular
/// file the user chose to replace: the new content, whole and checked, then takes its name in one
/// rename. When the user cancels the question about such files, the progress is cancelled and
/// nothing is written.
ExtractionReport ExtractZipArchive(const ZipArchive& archive, const std::string& destinationFolder,
                                   const ExtractionTuning& tuning = {});

/// Opens the archive and extracts it, as above; throws ExtractorError as ZipArchive does.
ExtractionReport ExtractZipArchive(const std::string& archivePath,
                                   const std::string& destinationFolder,
                                   const ExtractionTuning& tuning = {});

}  // namespace zipdrop
