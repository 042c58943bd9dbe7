#include "platform/posix/extractor/entry_kind.h"

#include <sys/stat.h>

namespace zipdrop {

namespace {

constexpr std::uint32_t kDosFolder = 0x10;

mode_t UnixMode(const CentralEntry& entry) {
  return entry.HasUnixMode() ? static_cast<mode_t>(entry.externalAttributes >> 16) : 0;
}

}  // namespace

EntryKind KindOf(const CentralEntry& entry, std::string_view name) {
  mode_t type = UnixMode(entry) & S_IFMT;
  if (type == S_IFLNK) return EntryKind::kLink;
  if (type == S_IFDIR) return EntryKind::kFolder;
  bool slash = !name.empty() && (name.back() == '/' || name.back() == '\\');
  bool dosFolder = !entry.HasUnixMode() && (entry.externalAttributes & kDosFolder) != 0 &&
                   entry.uncompressedSize == 0;
  return slash || dosFolder ? EntryKind::kFolder : EntryKind::kFile;
}

mode_t PermissionsOf(const CentralEntry& entry, EntryKind kind) {
  mode_t mode = UnixMode(entry);
  if (mode != 0) return mode & 07777;
  return kind == EntryKind::kFolder ? 0777 : 0666;
}

std::optional<timespec> ModificationTime(const CentralEntry& entry) {
  if (entry.unixTime) return timespec{static_cast<std::int32_t>(entry.modified), 0};
  std::uint32_t date = entry.modified >> 16;
  std::uint32_t time = entry.modified & 0xFFFF;
  tm fields{};
  fields.tm_year = static_cast<int>((date >> 9) + 80);
  fields.tm_mon = static_cast<int>(((date >> 5) & 15) - 1);
  fields.tm_mday = static_cast<int>(date & 31);
  fields.tm_hour = static_cast<int>(time >> 11);
  fields.tm_min = static_cast<int>((time >> 5) & 63);
  fields.tm_sec = static_cast<int>((time & 31) * 2);
  fields.tm_isdst = -1;
  if (fields.tm_mon < 0 || fields.tm_mon > 11 || fields.tm_mday == 0) return std::nullopt;
  std::time_t seconds = mktime(&fields);
  if (seconds == -1) return std::nullopt;
  return timespec{seconds, 0};
}

}  // namespace zipdrop
