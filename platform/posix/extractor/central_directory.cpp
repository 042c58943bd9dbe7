#include "platform/posix/extractor/central_directory.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/posix/extractor/byte_order.h"
#include "platform/posix/extractor/extra_fields.h"
#include "platform/posix/extractor/read_at.h"
#include "platform/posix/extractor/zip_records.h"
#include "zipdrop/extractor/extractor_error.h"

namespace zipdrop {

namespace {

constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kMaxCommentLength = 0xFFFF;
constexpr std::size_t kWindowBlock = 64 * 1024;
constexpr std::uint64_t kLargestCentralRecord = kCentralRecordSize + 3 * 0xFFFF;

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

// What an end record (with its zip64 form, if any) says about the central directory. Its entry
// counts and disk numbers are not kept: old writers wrap the counts past 65,535 and some set disk
// numbers in one-file archives, so the records themselves are counted instead.
struct EndRecord {
  std::uint64_t position = 0;      // Of the classic end record.
  std::uint64_t directoryEnd = 0;  // Where the central directory ends: the zip64 end record
                                   // when there is one, the classic one otherwise.
  std::uint64_t directorySize = 0;
  std::uint64_t declaredOffset = 0;
  std::uint64_t recordEnd = 0;  // The end of the record and its comment, as its length says.
};

bool Zip64EndAt(int fd, std::uint64_t position, EndRecord& record) {
  char bytes[kZip64EndSize];
  if (!ReadFullyAt(fd, bytes, sizeof bytes, position)) return false;
  if (std::memcmp(bytes, "PK\6\6", 4) != 0) return false;
  record.directorySize = ReadLe64(bytes + 40);
  record.declaredOffset = ReadLe64(bytes + 48);
  record.directoryEnd = position;
  return true;
}

// Applies the zip64 end record that a locator right before the classic record points to. The
// locator's offset does not count leading self-extractor bytes, so the place right before the
// locator is tried as well.
void ApplyZip64(int fd, EndRecord& record) {
  if (record.position < kLocatorSize) return;
  char locator[kLocatorSize];
  std::uint64_t locatorAt = record.position - kLocatorSize;
  if (!ReadFullyAt(fd, locator, sizeof locator, locatorAt)) return;
  if (std::memcmp(locator, "PK\6\7", 4) != 0) return;
  if (Zip64EndAt(fd, ReadLe64(locator + 8), record)) return;
  if (locatorAt >= kZip64EndSize) Zip64EndAt(fd, locatorAt - kZip64EndSize, record);
}

EndRecord ParseEndRecord(int fd, const char* bytes, std::uint64_t position) {
  EndRecord record;
  record.position = record.directoryEnd = position;
  record.recordEnd = position + kEndRecordSize + ReadLe16(bytes + 20);
  record.directorySize = ReadLe32(bytes + 12);
  record.declaredOffset = ReadLe32(bytes + 16);
  ApplyZip64(fd, record);
  return record;
}

// Replaces the saturated 32-bit fields with the values of a zip64 extra field (0x0001), which
// holds only those fields, in this order. A field too short for them all leaves the rest as they
// were, as other readers do.
void ApplyZip64Extra(const char* data, std::size_t size, CentralEntry& entry) {
  for (std::uint64_t* field :
       {&entry.uncompressedSize, &entry.compressedSize, &entry.localHeaderOffset}) {
    if (*field != kSaturated32) continue;
    if (size < 8) return;
    *field = ReadLe64(data);
    data += 8, size -= 8;
  }
}

// The Info-ZIP Unicode path (0x7075) replaces the name only while its CRC matches the raw name:
// a tool that renamed the entry without knowing the field leaves a stale path behind.
std::optional<std::string_view> UnicodePath(const char* data, std::size_t size,
                                            std::string_view rawName) {
  if (size < 5 || data[0] != 1) return std::nullopt;
  if (ReadLe32(data + 1) != ZipCrc32(rawName)) return std::nullopt;
  return std::string_view(data + 5, size - 5);
}

// Applies the extra fields the entry's reading needs; returns the name to go by.
std::string_view ParseExtraFields(const char* extra, std::size_t size, std::string_view rawName,
                                  CentralEntry& entry) {
  std::string_view name = rawName;
  ExtraFieldReader fields(std::string_view(extra, size));
  while (std::optional<ExtraField> field = fields.Next()) {
    const char* data = field->data.data();
    std::size_t length = field->data.size();
    if (field->tag == kExtraZip64) ApplyZip64Extra(data, length, entry);
    if (field->tag == kExtraUnicodePath) name = UnicodePath(data, length, rawName).value_or(name);
    if (field->tag == kExtraTimestamp && length >= 5 && (data[0] & 1) != 0) {
      entry.modified = ReadLe32(data + 1);
      entry.unixTime = true;
    }
  }
  return name;
}

bool ParseCentralRecord(FileWindow& window, CentralDirectory& directory) {
  const char* h = window.Take(kCentralRecordSize);
  if (h == nullptr || std::memcmp(h, "PK\1\2", 4) != 0) return false;
  CentralEntry entry;
  entry.host = static_cast<std::uint8_t>(ReadLe16(h + 4) >> 8);
  entry.flags = ReadLe16(h + 8);
  entry.method = ReadLe16(h + 10);
  entry.modified = static_cast<std::uint32_t>(ReadLe16(h + 14)) << 16 | ReadLe16(h + 12);
  entry.crc = ReadLe32(h + 16);
  entry.compressedSize = ReadLe32(h + 20);
  entry.uncompressedSize = ReadLe32(h + 24);
  std::size_t nameLength = ReadLe16(h + 28);
  std::size_t extraLength = ReadLe16(h + 30);
  std::size_t commentLength = ReadLe16(h + 32);
  entry.externalAttributes = ReadLe32(h + 38);
  entry.localHeaderOffset = ReadLe32(h + 42);
  const char* rest = window.Take(nameLength + extraLength + commentLength);
  if (rest == nullptr) return false;
  std::string_view name =
      ParseExtraFields(rest + nameLength, extraLength, std::string_view(rest, nameLength), entry);
  AddEntry(directory, entry, name);
  return true;
}

// The records from start, back to back, filling the range up to end exactly.
std::optional<CentralDirectory> ParseRecords(int fd, std::uint64_t start, std::uint64_t end) {
  CentralDirectory directory;
  directory.directoryOffset = start;
  // Every record takes at least 46 bytes of the file, and the names fit in what the records leave,
  // so both reservations are bounded by real bytes. Reserved memory that is never written costs
  // no resident memory, while growing by copying would touch twice what is kept.
  directory.entries.reserve((end - start) / kCentralRecordSize);
  directory.namePool.reserve(end - start);
  FileWindow window(fd, start, end);
  while (!window.AtEnd()) {
    if (!ParseCentralRecord(window, directory)) return std::nullopt;
  }
  return directory;
}

bool SignatureAt(int fd, std::uint64_t position, const char* signature) {
  char bytes[4];
  return ReadFullyAt(fd, bytes, 4, position) && std::memcmp(bytes, signature, 4) == 0;
}

// The length of the central record at position, when one starts there.
std::optional<std::uint64_t> CentralRecordLength(int fd, std::uint64_t position) {
  char h[kCentralRecordSize];
  if (!ReadFullyAt(fd, h, sizeof h, position) || std::memcmp(h, "PK\1\2", 4) != 0) {
    return std::nullopt;
  }
  return kCentralRecordSize + ReadLe16(h + 28) + ReadLe16(h + 30) + ReadLe16(h + 32);
}

// Where a chain of central records that ends exactly at end begins, found by walking back over
// the signatures before it: for an end record whose offset and size are both wrong. The walk
// stops once no record could reach the chain's start any more.
std::uint64_t FindChainStart(int fd, std::uint64_t end) {
  std::uint64_t start = end;
  std::vector<char> block(kWindowBlock + 3);
  std::uint64_t blockEnd = end;
  while (blockEnd > 0 && start - std::min(start, kLargestCentralRecord) < blockEnd) {
    std::uint64_t blockStart = blockEnd - std::min<std::uint64_t>(blockEnd, kWindowBlock);
    std::size_t size = static_cast<std::size_t>(blockEnd - blockStart);
    std::ptrdiff_t got = ReadSomeAt(fd, block.data(), size + 3, blockStart);
    if (got < 4) break;
    for (std::size_t i = static_cast<std::size_t>(got) - 3; i-- > 0;) {
      if (std::memcmp(block.data() + i, "PK\1\2", 4) != 0 || blockStart + i >= start) continue;
      std::optional<std::uint64_t> length = CentralRecordLength(fd, blockStart + i);
      if (length && blockStart + i + *length == start) start = blockStart + i;
    }
    blockEnd = blockStart;
  }
  return start;
}

// Which leading bytes the offsets leave out: those that put the first entry on a local header.
std::uint64_t ChoosePrefix(int fd, const CentralDirectory& directory,
                           std::uint64_t declaredOffset) {
  std::vector<std::uint64_t> candidates;
  if (directory.directoryOffset >= declaredOffset) {
    candidates.push_back(directory.directoryOffset - declaredOffset);
  }
  candidates.push_back(0);
  if (directory.entries.empty()) return candidates.front();
  std::uint64_t first = std::numeric_limits<std::uint64_t>::max();
  for (const CentralEntry& entry : directory.entries) {
    first = std::min(first, entry.localHeaderOffset);
  }
  for (std::uint64_t prefix : candidates) {
    if (first <= UINT64_MAX - prefix && SignatureAt(fd, first + prefix, "PK\3\4")) return prefix;
  }
  return candidates.front();
}

void ApplyPrefix(CentralDirectory& directory, std::uint64_t prefix) {
  directory.prefixLength = prefix;
  for (CentralEntry& entry : directory.entries) {
    entry.localHeaderOffset = std::min(entry.localHeaderOffset, UINT64_MAX - prefix) + prefix;
  }
}

// The central directory that ends where the end record says: found through the directory's size
// (which leading bytes do not change), then through its offset (which a wrong size does not
// change), then by walking back over the records themselves.
std::optional<CentralDirectory> DirectoryBefore(int fd, std::uint64_t directoryEnd,
                                                std::uint64_t directorySize,
                                                std::uint64_t declaredOffset) {
  std::vector<std::uint64_t> starts;
  if (directorySize <= directoryEnd) starts.push_back(directoryEnd - directorySize);
  if (declaredOffset < directoryEnd) starts.push_back(declaredOffset);
  for (std::uint64_t start : starts) {
    if (start != directoryEnd && !SignatureAt(fd, start, "PK\1\2")) continue;
    if (auto directory = ParseRecords(fd, start, directoryEnd)) return directory;
  }
  std::uint64_t start = FindChainStart(fd, directoryEnd);
  if (start == directoryEnd) return std::nullopt;
  return ParseRecords(fd, start, directoryEnd);
}

std::optional<CentralDirectory> DirectoryOf(int fd, const EndRecord& record) {
  std::optional<CentralDirectory> directory =
      DirectoryBefore(fd, record.directoryEnd, record.directorySize, record.declaredOffset);
  if (directory) ApplyPrefix(*directory, ChoosePrefix(fd, *directory, record.declaredOffset));
  return directory;
}

// Whether the candidate found earlier in the file is the real end record rather than the later
// one: its comment runs over the later one, which is then only bytes inside that comment, or the
// later one describes an empty archive while this one has entries.
bool Supersedes(const EndRecord& earlier, const CentralDirectory& directory,
                std::uint64_t laterPosition, const CentralDirectory& later) {
  if (earlier.recordEnd > laterPosition) return true;
  return later.entries.empty() && !directory.entries.empty();
}

// For an end record whose signature is damaged: the last complete central record in the tail,
// and the chain of records that ends with it.
std::optional<CentralDirectory> DirectoryWithoutEndRecord(int fd, std::uint64_t fileSize) {
  std::uint64_t bound = kMaxCommentLength + kEndRecordSize + kLargestCentralRecord;
  std::uint64_t tailStart = fileSize - std::min(fileSize, bound);
  std::vector<char> tail(static_cast<std::size_t>(fileSize - tailStart));
  if (!ReadFullyAt(fd, tail.data(), tail.size(), tailStart)) return std::nullopt;
  for (std::size_t i = tail.size() >= 4 ? tail.size() - 3 : 0; i-- > 0;) {
    if (std::memcmp(tail.data() + i, "PK\1\2", 4) != 0) continue;
    std::optional<std::uint64_t> length = CentralRecordLength(fd, tailStart + i);
    if (!length || tailStart + i + *length + kEndRecordSize > fileSize) continue;
    std::uint64_t end = tailStart + i + *length;
    std::optional<CentralDirectory> directory = ParseRecords(fd, FindChainStart(fd, end), end);
    if (directory)
      ApplyPrefix(*directory, ChoosePrefix(fd, *directory, directory->directoryOffset));
    return directory;
  }
  return std::nullopt;
}

// The end record is searched backwards over the last 64 KiB + 22 bytes, the most a comment allows.
// Text in a comment can look like an end record, so a candidate counts only when a central
// directory is found for it, and the last one in the file wins unless Supersedes says otherwise.
std::optional<CentralDirectory> DirectoryFromEndRecords(int fd, std::uint64_t fileSize) {
  std::size_t tailSize = std::min<std::uint64_t>(fileSize, kMaxCommentLength + kEndRecordSize);
  std::vector<char> tail(tailSize);
  std::uint64_t tailStart = fileSize - tailSize;
  if (!ReadFullyAt(fd, tail.data(), tailSize, tailStart)) {
    throw ExtractorError("cannot read the end of the ZIP archive");
  }
  std::optional<CentralDirectory> chosen;
  std::uint64_t chosenPosition = 0;
  for (std::size_t i = tailSize >= kEndRecordSize ? tailSize - kEndRecordSize + 1 : 0; i-- > 0;) {
    if (std::memcmp(tail.data() + i, "PK\5\6", 4) != 0) continue;
    EndRecord record = ParseEndRecord(fd, tail.data() + i, tailStart + i);
    std::optional<CentralDirectory> directory = DirectoryOf(fd, record);
    if (!directory) continue;
    if (!chosen || Supersedes(record, *directory, chosenPosition, *chosen)) {
      chosen = std::move(directory);
      chosenPosition = record.position;
    }
  }
  return chosen;
}

}  // namespace

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

void AddEntry(CentralDirectory& directory, CentralEntry entry, std::string_view name) {
  entry.nameOffset = directory.namePool.size();
  entry.nameLength = static_cast<std::uint16_t>(std::min<std::size_t>(name.size(), 0xFFFF));
  directory.namePool.append(name.substr(0, entry.nameLength));
  directory.entries.push_back(entry);
}

void SortByOffset(CentralDirectory& directory) {
  auto byOffset = [](const CentralEntry& a, const CentralEntry& b) {
    return a.localHeaderOffset < b.localHeaderOffset;
  };
  // Most writers list entries in the order of their data; stable_sort would still take a buffer
  // as large as the table.
  if (std::is_sorted(directory.entries.begin(), directory.entries.end(), byOffset)) return;
  std::stable_sort(directory.entries.begin(), directory.entries.end(), byOffset);
}

CentralDirectory ReadCentralDirectory(int fd) {
  std::uint64_t fileSize = FileSize(fd);
  std::optional<CentralDirectory> directory = DirectoryFromEndRecords(fd, fileSize);
  if (!directory || directory->entries.empty()) {
    // No end record, or one that found nothing: the end of the file may be damaged or cut off.
    std::optional<CentralDirectory> found = DirectoryWithoutEndRecord(fd, fileSize);
    CentralDirectory recovered = RecoverFromLocalHeaders(fd, fileSize);
    if (found && found->entries.size() >= recovered.entries.size()) {
      directory = std::move(found);
    } else if (!recovered.entries.empty() || (recovered.damaged && !directory)) {
      directory = std::move(recovered);
    }
  }
  if (!directory) throw ExtractorError("no ZIP central directory found");
  SortByOffset(*directory);
  return std::move(*directory);
}

}  // namespace zipdrop
