#include "platform/posix/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/platform_services.h"

namespace zipdrop {

namespace {

// Makes the locale current on this thread for one scope, then restores whatever was current.
// uselocale leaves the process-wide locale and every other thread alone.
class ThreadLocaleScope {
 public:
  explicit ThreadLocaleScope(locale_t locale)
      : previous_(locale ? uselocale(locale) : static_cast<locale_t>(0)) {}
  ThreadLocaleScope(const ThreadLocaleScope&) = delete;
  ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;
  ~ThreadLocaleScope() {
    if (previous_) uselocale(previous_);
  }

 private:
  locale_t previous_;
};

// The entry's modification time, when the archive gives one.
std::optional<timespec> ModificationTime(archive_entry* entry) {
  if (!archive_entry_mtime_is_set(entry)) return std::nullopt;
  return timespec{archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)};
}

la_ssize_t ReadView(archive*, void* view, const void** bytes) {
  return static_cast<ArchiveView*>(view)->Read(bytes);
}

la_int64_t SeekView(archive*, void* view, la_int64_t offset, int whence) {
  return static_cast<ArchiveView*>(view)->Seek(offset, whence);
}

la_int64_t SkipView(archive*, void* view, la_int64_t count) {
  return static_cast<ArchiveView*>(view)->Skip(count);
}

}  // namespace

UniqueArchive::UniqueArchive() : archive_(archive_read_new()) {}

UniqueArchive::~UniqueArchive() {
  if (archive_) archive_read_free(archive_);
}

// Only the character type matters to libarchive's conversions; loading the other categories would
// cost a dozen file look-ups per reader.
Utf8Locale::Utf8Locale()
    : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))) {}

Utf8Locale::~Utf8Locale() {
  if (locale_) freelocale(locale_);
}

std::ptrdiff_t ArchiveView::Read(const void** bytes) {
  *bytes = block_.data();
  std::uint64_t size = end_ - start_;
  if (position_ >= size) return 0;
  auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(block_.size(), size - position_));
  for (;;) {
    ssize_t got = pread(fd_, block_.data(), wanted, static_cast<off_t>(start_ + position_));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    position_ += static_cast<std::uint64_t>(got);
    return got;
  }
}

std::int64_t ArchiveView::Seek(std::int64_t offset, int whence) {
  std::int64_t base = whence == SEEK_SET   ? 0
                      : whence == SEEK_CUR ? static_cast<std::int64_t>(position_)
                                           : static_cast<std::int64_t>(end_ - start_);
  if (offset < -base || offset > INT64_MAX - base) return -1;
  position_ = static_cast<std::uint64_t>(base + offset);
  return static_cast<std::int64_t>(position_);
}

std::int64_t ArchiveView::Skip(std::int64_t count) {
  std::uint64_t size = end_ - start_;
  if (count <= 0 || position_ >= size) return 0;
  std::uint64_t skipped = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), size - position_);
  position_ += skipped;
  return static_cast<std::int64_t>(skipped);
}

ArchiveReader::ArchiveReader(int fd, std::uint64_t start, std::uint64_t end)
    : view_(fd, start, end) {
  if (!archive_.Get() || !locale_.Get()) throw PlatformError("ZIP reader cannot be set up");
  ThreadLocaleScope scope(locale_.Get());
  // Only the seekable ZIP reader: it starts from the central directory, and no other format or
  // compression filter gets a chance to claim a file that merely resembles one.
  archive* a = archive_.Get();
  archive_read_support_format_zip_seekable(a);
  archive_read_set_callback_data(a, &view_);
  archive_read_set_read_callback(a, ReadView);
  archive_read_set_seek_callback(a, SeekView);
  archive_read_set_skip_callback(a, SkipView);
  if (archive_read_open1(a) != ARCHIVE_OK) {
    const char* error = archive_error_string(a);
    throw PlatformError(std::string("cannot open ZIP archive: ") + (error ? error : "unknown"));
  }
}

ReadStatus ArchiveReader::NextEntry(EntryHeader& header) {
  ThreadLocaleScope scope(locale_.Get());
  archive_entry* entry = nullptr;
  int status = archive_read_next_header(archive_.Get(), &entry);
  if (status == ARCHIVE_EOF) return ReadStatus::kEnd;
  if (status == ARCHIVE_FATAL || !entry) {
    damaged_ = true;
    return ReadStatus::kDamaged;
  }
  const char* name = archive_entry_pathname(entry);
  header.rawName = name ? name : "";
  header.type = archive_entry_filetype(entry);
  header.permissions = archive_entry_perm(entry);
  header.isHardlink = archive_entry_hardlink(entry) != nullptr;
  header.isEncrypted = archive_entry_is_encrypted(entry);
  header.declaredSize.reset();
  if (archive_entry_size_is_set(entry) && archive_entry_size(entry) >= 0) {
    header.declaredSize = static_cast<std::uint64_t>(archive_entry_size(entry));
  }
  header.mtime = ModificationTime(entry);
  // A warning here means the name could not be converted, among others: the name we hold may
  // not be the one the archive meant, so the entry is not written under it.
  return status == ARCHIVE_OK ? ReadStatus::kEntry : ReadStatus::kBadEntry;
}

std::ptrdiff_t ArchiveReader::Read(char* buffer, std::size_t size) {
  ThreadLocaleScope scope(locale_.Get());
  la_ssize_t count = archive_read_data(archive_.Get(), buffer, size);
  if (count >= 0) return count;
  // A bad CRC is only a warning to libarchive, yet the bytes already given were wrong.
  if (count == ARCHIVE_FATAL) damaged_ = true;
  return -1;
}

}  // namespace zipdrop
