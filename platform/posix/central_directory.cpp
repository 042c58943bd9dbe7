#include "platform/posix/central_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/platform_services.h"

namespace zipdrop {

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralRecordSize = 46;
constexpr std::size_t kMaxCommentLength = 0xFFFF;
constexpr std::size_t kWindowBlock = 64 * 1024;
constexpr std::uint32_t kSaturated32 = 0xFFFFFFFF;
constexpr std::uint64_t kReservedEntries = 65536;

// Reads one range of the file front to back through a buffer that holds one block, or one record
// when a record is larger (at most 46 + 3 * 65535 bytes), never the whole range.
class FileWindow {
 public:
  FileWindow(int fd, std::uint64_t start, std::uint64_t end)
      : fd_(fd), bufferEnd_(start), end_(end), buffer_(kWindowBlock) {}

  // The next count bytes, valid until the next call; nullptr when the range ends first.
  const char* Take(std::size_t count) {
    if (filled_ - begin_ < count && !Refill(count)) return nullptr;
    const char* bytes = buffer_.data() + begin_;
    begin_ += count;
    return bytes;
  }

  // Whether every byte of the range was taken.
  bool AtEnd() const { return begin_ == filled_ && bufferEnd_ == end_; }

 private:
  bool Refill(std::size_t count) {
    std::size_t kept = filled_ - begin_;
    std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
    begin_ = 0;
    filled_ = kept;
    if (buffer_.size() < count) buffer_.resize(count);
    std::uint64_t wanted = std::min<std::uint64_t>(buffer_.size() - filled_, end_ - bufferEnd_);
    if (kept + wanted < count) return false;
    if (!ReadFullyAt(fd_, buffer_.data() + filled_, wanted, bufferEnd_)) return false;
    filled_ += wanted;
    bufferEnd_ += wanted;
    return true;
  }

  int fd_;
  std::uint64_t bufferEnd_;  // The file offset of buffer_[filled_].
  std::uint64_t end_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t filled_ = 0;
};

// What an end record (with its zip64 form, if any) says about the central directory.
struct EndRecord {
  std::uint64_t position = 0;       // Of the classic end record.
  std::uint64_t directoryEnd = 0;   // Where the central directory must end: the zip64 end
                                    // record when there is one, the classic one otherwise.
  std::uint64_t entryCount = 0;
  std::uint64_t directorySize = 0;
  std::uint64_t declaredOffset = 0;
  std::uint64_t recordEnd = 0;      // The end of the record and its comment.
};

bool Zip64EndAt(int fd, std::uint64_t position, EndRecord& record) {
  char bytes[kZip64EndSize];
  if (!ReadFullyAt(fd, bytes, sizeof bytes, position)) return false;
  if (std::memcmp(bytes, "PK\6\6", 4) != 0) return false;
  if (ReadLe32(bytes + 16) != 0 || ReadLe32(bytes + 20) != 0) return false;  // Multi-disk.
  if (ReadLe64(bytes + 24) != ReadLe64(bytes + 32)) return false;
  record.entryCount = ReadLe64(bytes + 32);
  record.directorySize = ReadLe64(bytes + 40);
  record.declaredOffset = ReadLe64(bytes + 48);
  record.directoryEnd = position;
  return true;
}

// Applies the zip64 end record that a locator right before the classic record points to. The
// locator's offset does not count leading self-extractor bytes, so the place right before the
// locator is tried as well.
bool ApplyZip64(int fd, EndRecord& record) {
  if (record.position < kLocatorSize) return true;
  char locator[kLocatorSize];
  std::uint64_t locatorAt = record.position - kLocatorSize;
  if (!ReadFullyAt(fd, locator, sizeof locator, locatorAt)) return false;
  if (std::memcmp(locator, "PK\6\7", 4) != 0) return true;
  if (Zip64EndAt(fd, ReadLe64(locator + 8), record)) return true;
  return locatorAt >= kZip64EndSize && Zip64EndAt(fd, locatorAt - kZip64EndSize, record);
}

std::optional<EndRecord> ParseEndRecord(int fd, const char* bytes, std::uint64_t position,
                                        std::uint64_t fileSize) {
  EndRecord record;
  record.position = record.directoryEnd = position;
  record.recordEnd = position + kEndRecordSize + ReadLe16(bytes + 20);
  if (record.recordEnd > fileSize) return std::nullopt;  // Its comment runs past the file.
  // Archives split over several disks are not supported by any reader we use.
  if (ReadLe16(bytes + 4) != 0 || ReadLe16(bytes + 6) != 0) return std::nullopt;
  if (ReadLe16(bytes + 8) != ReadLe16(bytes + 10)) return std::nullopt;
  record.entryCount = ReadLe16(bytes + 10);
  record.directorySize = ReadLe32(bytes + 12);
  record.declaredOffset = ReadLe32(bytes + 16);
  if (!ApplyZip64(fd, record)) return std::nullopt;
  if (record.directorySize > record.directoryEnd) return std::nullopt;
  if (record.directoryEnd - record.directorySize < record.declaredOffset) return std::nullopt;
  if (record.entryCount > record.directorySize / kCentralRecordSize) return std::nullopt;
  return record;
}

// Replaces the saturated 32-bit fields with the values of a zip64 extra field (0x0001), which
// holds only those fields, in this order.
bool ApplyZip64Extra(const char* data, std::size_t size, CentralEntry& entry) {
  for (std::uint64_t* field :
       {&entry.uncompressedSize, &entry.compressedSize, &entry.localHeaderOffset}) {
    if (*field != kSaturated32) continue;
    if (size < 8) return false;
    *field = ReadLe64(data);
    data += 8, size -= 8;
  }
  return true;
}

bool ParseExtraFields(const char* extra, std::size_t size, CentralEntry& entry) {
  while (size >= 4) {
    std::uint16_t id = ReadLe16(extra);
    std::size_t length = ReadLe16(extra + 2);
    if (length > size - 4) return false;
    if (id == 0x0001 && !ApplyZip64Extra(extra + 4, length, entry)) return false;
    if (id == 0x7075) entry.hasUnicodePath = true;
    extra += 4 + length, size -= 4 + length;
  }
  return true;
}

bool ParseCentralRecord(FileWindow& window, CentralDirectory& directory) {
  const char* h = window.Take(kCentralRecordSize);
  if (h == nullptr || std::memcmp(h, "PK\1\2", 4) != 0) return false;
  CentralEntry entry;
  entry.host = static_cast<std::uint8_t>(ReadLe16(h + 4) >> 8);
  entry.flags = ReadLe16(h + 8);
  entry.method = ReadLe16(h + 10);
  entry.crc = ReadLe32(h + 16);
  entry.compressedSize = ReadLe32(h + 20);
  entry.uncompressedSize = ReadLe32(h + 24);
  entry.nameLength = ReadLe16(h + 28);
  std::size_t extraLength = ReadLe16(h + 30);
  std::size_t commentLength = ReadLe16(h + 32);
  entry.externalAttributes = ReadLe32(h + 38);
  entry.localHeaderOffset = ReadLe32(h + 42);
  const char* rest = window.Take(entry.nameLength + extraLength + commentLength);
  if (rest == nullptr) return false;
  if (!ParseExtraFields(rest + entry.nameLength, extraLength, entry)) return false;
  entry.nameOffset = directory.namePool.size();
  directory.namePool.append(rest, entry.nameLength);
  directory.entries.push_back(entry);
  return true;
}

// The central directory that the end record describes, if it parses: exactly the declared number
// of records, filling exactly the declared size, ending right where the end record starts.
std::optional<CentralDirectory> ParseDirectory(int fd, const EndRecord& record) {
  CentralDirectory directory;
  directory.directoryOffset = record.directoryEnd - record.directorySize;
  directory.prefixLength = directory.directoryOffset - record.declaredOffset;
  directory.endRecordOffset = record.position;
  // The count is only a claim until the records are read: reserve no more than a modest table
  // for it, and let a real directory grow the table as it parses.
  directory.entries.reserve(std::min<std::uint64_t>(record.entryCount, kReservedEntries));
  FileWindow window(fd, directory.directoryOffset, record.directoryEnd);
  for (std::uint64_t i = 0; i < record.entryCount; ++i) {
    if (!ParseCentralRecord(window, directory)) return std::nullopt;
  }
  if (!window.AtEnd()) return std::nullopt;
  for (CentralEntry& entry : directory.entries) {
    if (entry.localHeaderOffset > record.directoryEnd - directory.prefixLength) return std::nullopt;
    entry.localHeaderOffset += directory.prefixLength;
  }
  std::stable_sort(directory.entries.begin(), directory.entries.end(),
                   [](const CentralEntry& a, const CentralEntry& b) {
                     return a.localHeaderOffset < b.localHeaderOffset;
                   });
  return directory;
}

std::uint64_t FileSize(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) throw PlatformError("cannot read the size of the ZIP archive");
  return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace

std::uint16_t ReadLe16(const char* bytes) {
  auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t ReadLe32(const char* bytes) {
  return ReadLe16(bytes) | (static_cast<std::uint32_t>(ReadLe16(bytes + 2)) << 16);
}

std::uint64_t ReadLe64(const char* bytes) {
  return ReadLe32(bytes) | (static_cast<std::uint64_t>(ReadLe32(bytes + 4)) << 32);
}

bool ReadFullyAt(int fd, char* buffer, std::size_t count, std::uint64_t offset) {
  while (count > 0) {
    ssize_t got = pread(fd, buffer, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got, count -= static_cast<std::size_t>(got), offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

std::uint64_t CentralDirectory::DeclaredTotalSize() const {
  std::uint64_t total = 0;
  for (const CentralEntry& entry : entries) {
    if (entry.uncompressedSize > std::numeric_limits<std::uint64_t>::max() - total) {
      return std::numeric_limits<std::uint64_t>::max();
    }
    total += entry.uncompressedSize;
  }
  return total;
}

// The end record is searched backwards over the last 64 KiB + 22 bytes, the most a comment allows.
// Text in a comment can look like an end record, so a candidate counts only when its central
// directory parses. Walking backwards, the last such record in the file wins, unless an earlier
// one also parses and its comment runs over the later one: the later one is then only bytes
// inside that comment.
CentralDirectory ReadCentralDirectory(int fd) {
  std::uint64_t fileSize = FileSize(fd);
  std::size_t tailSize = std::min<std::uint64_t>(fileSize, kMaxCommentLength + kEndRecordSize);
  std::vector<char> tail(tailSize);
  std::uint64_t tailStart = fileSize - tailSize;
  if (!ReadFullyAt(fd, tail.data(), tailSize, tailStart)) {
    throw PlatformError("cannot read the end of the ZIP archive");
  }
  std::optional<CentralDirectory> chosen;
  for (std::size_t i = tailSize >= kEndRecordSize ? tailSize - kEndRecordSize + 1 : 0; i-- > 0;) {
    if (std::memcmp(tail.data() + i, "PK\5\6", 4) != 0) continue;
    std::optional<EndRecord> record = ParseEndRecord(fd, tail.data() + i, tailStart + i, fileSize);
    if (!record || (chosen && record->recordEnd <= chosen->endRecordOffset)) continue;
    if (std::optional<CentralDirectory> directory = ParseDirectory(fd, *record)) {
      chosen = std::move(directory);
    }
  }
  if (!chosen) throw PlatformError("no ZIP central directory found");
  return std::move(*chosen);
}

}  // namespace zipdrop
