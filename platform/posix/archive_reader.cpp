#include "platform/posix/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>

#include "platform/platform_services.h"

namespace zipdrop {

namespace {

constexpr std::size_t kOpenBlockSize = 64 * 1024;

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

}  // namespace

UniqueArchive::UniqueArchive() : archive_(archive_read_new()) {}

UniqueArchive::~UniqueArchive() {
  if (archive_) archive_read_free(archive_);
}

Utf8Locale::Utf8Locale() : locale_(newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0))) {}

Utf8Locale::~Utf8Locale() {
  if (locale_) freelocale(locale_);
}

ArchiveReader::ArchiveReader(const std::string& path) {
  if (!archive_.Get() || !locale_.Get()) throw PlatformError("ZIP reader cannot be set up");
  ThreadLocaleScope scope(locale_.Get());
  // Only the seekable ZIP reader: it starts from the central directory, and no other format or
  // compression filter gets a chance to claim a file that merely resembles one.
  archive_read_support_format_zip_seekable(archive_.Get());
  if (archive_read_open_filename(archive_.Get(), path.c_str(), kOpenBlockSize) != ARCHIVE_OK) {
    throw PlatformError("cannot open ZIP archive " + path + ": " +
                        archive_error_string(archive_.Get()));
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

bool IsEmptyZipArchive(const std::string& path) {
  UniqueArchive reader;
  if (!reader.Get()) return false;
  // The streaming ZIP reader knows an archive that starts with its end record; it is used for
  // nothing else, since it trusts local headers the central directory may contradict.
  archive_read_support_format_zip_streamable(reader.Get());
  if (archive_read_open_filename(reader.Get(), path.c_str(), kOpenBlockSize) != ARCHIVE_OK) {
    return false;
  }
  archive_entry* entry = nullptr;
  return archive_read_next_header(reader.Get(), &entry) == ARCHIVE_EOF;
}

}  // namespace zipdrop
