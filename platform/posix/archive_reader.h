// One pass over the entries of a ZIP archive with libarchive, which reads it and nothing more.
#pragma once

#include <locale.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

struct archive;

namespace zipdrop {

/// What the extractor needs to know of one entry before writing it.
struct EntryHeader {
  std::string rawName;           // The name as the reader gave it: UTF-8 when the archive says
                                 // so, the archive's own bytes otherwise.
  mode_t type = 0;               // AE_IFREG, AE_IFDIR, AE_IFLNK...
  mode_t permissions = 0;        // The entry's permission bits, special bits included.
  bool isHardlink = false;
  bool isEncrypted = false;
  std::optional<std::uint64_t> declaredSize;
  std::optional<timespec> mtime;
};

/// Owns a libarchive reader.
class UniqueArchive {
 public:
  UniqueArchive();
  UniqueArchive(const UniqueArchive&) = delete;
  UniqueArchive& operator=(const UniqueArchive&) = delete;
  ~UniqueArchive();
  archive* Get() const { return archive_; }

 private:
  archive* archive_;
};

/// Owns a UTF-8 locale object (of the C library, not the process-wide locale).
class Utf8Locale {
 public:
  Utf8Locale();
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;
  ~Utf8Locale();
  locale_t Get() const { return locale_; }

 private:
  locale_t locale_;
};

/// Where the walk over the entries stands after NextEntry.
enum class ReadStatus {
  kEntry,        // An entry was read and can be written.
  kBadEntry,     // This entry's header was faulty; the next one may still be read.
  kEnd,          // No more entries.
  kDamaged,      // The archive cannot be read any further.
};

/// The source of one entry's content, one block at a time.
class EntryData {
 public:
  virtual ~EntryData() = default;
  /// Fills the buffer with the next bytes: the count, 0 at the end, -1 when the data is damaged,
  /// encrypted or compressed in a way the reader does not know.
  virtual std::ptrdiff_t Read(char* buffer, std::size_t size) = 0;
};

/// The part of an archive file libarchive is shown: the archive proper as our pre-scan found it,
/// read with pread through the descriptor the pre-scan read. The comment and anything after it are
/// cut off, so libarchive, which takes the last end record it finds, cannot pick a different one
/// (say, a fake in the comment). Leading self-extractor bytes are cut off too, so the offsets the
/// archive states are right as they are, in its zip64 records as well. And since both passes read
/// the same open file, a file replaced on disk between them cannot slip other entries in.
class ArchiveView {
 public:
  ArchiveView(int fd, std::uint64_t start, std::uint64_t end)
      : fd_(fd), start_(start), end_(end), block_(64 * 1024) {}
  ArchiveView(const ArchiveView&) = delete;
  ArchiveView& operator=(const ArchiveView&) = delete;

  std::ptrdiff_t Read(const void** bytes);
  std::int64_t Seek(std::int64_t offset, int whence);
  std::int64_t Skip(std::int64_t count);

 private:
  int fd_;
  std::uint64_t start_;
  std::uint64_t end_;
  std::uint64_t position_ = 0;  // From start_.
  std::vector<char> block_;
};

/// Reads one archive from its start, entry by entry. It must be used on the thread that made it:
/// it switches that thread (and only that thread) to a UTF-8 locale during each call, because
/// libarchive converts names flagged as UTF-8 to the charset of the caller's locale and would
/// fail on every non-ASCII name under the "C" locale a desktop launcher often gives us.
class ArchiveReader : public EntryData {
 public:
  /// Opens the archive open at fd, showing libarchive the bytes from start to end; throws
  /// PlatformError when it is not a readable ZIP archive. fd must stay open while the reader lives.
  ArchiveReader(int fd, std::uint64_t start, std::uint64_t end);
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  /// Reads the next entry's header into header.
  ReadStatus NextEntry(EntryHeader& header);
  std::ptrdiff_t Read(char* buffer, std::size_t size) override;

  /// Whether the last call found the archive unreadable from there on.
  bool Damaged() const { return damaged_; }

 private:
  Utf8Locale locale_;
  ArchiveView view_;  // Declared before archive_, which reads through it until it is freed.
  UniqueArchive archive_;
  bool damaged_ = false;
};

}  // namespace zipdrop
