// The local headers: where each entry's data starts, and the entries of an archive whose central
// directory was lost.
#include <libdeflate.h>

#include <cstring>
#include <vector>

#include "platform/posix/extractor/byte_order.h"
#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/extra_fields.h"
#include "platform/posix/extractor/read_at.h"
#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

namespace {

constexpr std::size_t kSearchBlock = 64 * 1024;

// A local header's zip64 field holds both sizes, whichever of them is saturated.
void ApplyLocalZip64(const std::string& extra, LocalHeader& header) {
  std::optional<std::string_view> field = ExtraFieldReader::Find(extra, kExtraZip64);
  if (!field || field->size() < 16) return;
  if (header.uncompressedSize == kSaturated32) header.uncompressedSize = ReadLe64(field->data());
  if (header.compressedSize == kSaturated32) header.compressedSize = ReadLe64(field->data() + 8);
}

// For an entry whose sizes follow its data: the data descriptor whose compressed size matches
// the distance from the data's start, searched forward. Returns the descriptor's offset.
std::optional<std::uint64_t> FindDataDescriptor(int fd, LocalHeader& header,
                                                std::uint64_t fileSize) {
  std::vector<char> block(kSearchBlock + 16);
  for (std::uint64_t at = header.dataOffset; at < fileSize; at += kSearchBlock) {
    std::ptrdiff_t got = ReadSomeAt(fd, block.data(), block.size(), at);
    if (got < 16) return std::nullopt;
    for (std::size_t i = 0; i + 16 <= static_cast<std::size_t>(got) && i < kSearchBlock; ++i) {
      if (std::memcmp(block.data() + i, "PK\7\10", 4) != 0) continue;
      if (ReadLe32(block.data() + i + 8) != at + i - header.dataOffset) continue;
      header.crc = ReadLe32(block.data() + i + 4);
      header.compressedSize = ReadLe32(block.data() + i + 8);
      header.uncompressedSize = ReadLe32(block.data() + i + 12);
      return at + i;
    }
  }
  return std::nullopt;
}

// The name in a local header cut short after its name (in its extra field); empty when the cut
// came before.
std::string NameBeforeCut(int fd, std::uint64_t offset) {
  char h[kLocalHeaderSize];
  if (!ReadFullyAt(fd, h, sizeof h, offset)) return "";
  std::string name(ReadLe16(h + 26), '\0');
  if (!ReadFullyAt(fd, name.data(), name.size(), offset + kLocalHeaderSize)) return "";
  return name;
}

// The walk stopped at `at`, where no whole local header is. A central directory's first record
// ends it cleanly; anything else (a local header cut short, the end of the file, bytes of no
// header) means that the archive breaks off there. A local header's signature is one entry known
// lost.
void NoteWhereTheWalkStopped(int fd, std::uint64_t at, CentralDirectory& directory) {
  char signature[4];
  bool whole = ReadFullyAt(fd, signature, 4, at);
  if (whole && std::memcmp(signature, "PK\1\2", 4) == 0) return;
  // With nothing recovered, nothing shows that the file is a ZIP archive at all.
  if (directory.entries.empty()) return;
  directory.damaged = true;
  if (whole && std::memcmp(signature, "PK\3\4", 4) == 0) {
    directory.lostNames.push_back(NameBeforeCut(fd, at));
  }
}

}  // namespace

std::uint32_t ZipCrc32(std::string_view bytes, std::uint32_t crc) {
  return libdeflate_crc32(crc, bytes.data(), bytes.size());
}

std::optional<LocalHeader> ReadLocalHeader(int fd, std::uint64_t offset, LocalHeaderParts parts) {
  char h[kLocalHeaderSize];
  if (!ReadFullyAt(fd, h, sizeof h, offset) || std::memcmp(h, "PK\3\4", 4) != 0) {
    return std::nullopt;
  }
  LocalHeader header;
  header.flags = ReadLe16(h + 6);
  header.method = ReadLe16(h + 8);
  header.modified = static_cast<std::uint32_t>(ReadLe16(h + 12)) << 16 | ReadLe16(h + 10);
  header.crc = ReadLe32(h + 14);
  header.compressedSize = ReadLe32(h + 18);
  header.uncompressedSize = ReadLe32(h + 22);
  std::size_t nameLength = ReadLe16(h + 26);
  std::size_t extraLength = ReadLe16(h + 28);
  header.dataOffset = offset + kLocalHeaderSize + nameLength + extraLength;
  if (parts == LocalHeaderParts::kWithNameAndExtra) {
    std::string bytes(nameLength + extraLength, '\0');
    if (!ReadFullyAt(fd, bytes.data(), bytes.size(), offset + kLocalHeaderSize)) {
      return std::nullopt;
    }
    header.name = bytes.substr(0, nameLength);
    header.extra = bytes.substr(nameLength);
    ApplyLocalZip64(bytes.substr(nameLength), header);
  }
  return header;
}

// Each entry is taken only when all its data is in the file; the first one that is not, or a
// header that cannot be read, ends the walk, and what follows is lost. A central directory's
// first record ends it cleanly.
CentralDirectory RecoverFromLocalHeaders(int fd, std::uint64_t fileSize) {
  CentralDirectory directory;
  std::uint64_t at = 0;
  for (;;) {
    std::optional<LocalHeader> header =
        ReadLocalHeader(fd, at, LocalHeaderParts::kWithNameAndExtra);
    if (!header) {
      NoteWhereTheWalkStopped(fd, at, directory);
      break;
    }
    std::uint64_t next = header->dataOffset + header->compressedSize;
    if ((header->flags & kFlagDataDescriptor) != 0) {
      std::optional<std::uint64_t> descriptor = FindDataDescriptor(fd, *header, fileSize);
      next = descriptor ? *descriptor + 16 : UINT64_MAX;
    }
    if (header->dataOffset > fileSize || next > fileSize) {
      directory.damaged = true;
      directory.lostNames.push_back(header->name);
      break;
    }
    CentralEntry entry;
    entry.localHeaderOffset = at;
    entry.dataOffset = header->dataOffset;
    entry.compressedSize = header->compressedSize;
    entry.uncompressedSize = header->uncompressedSize;
    entry.crc = header->crc;
    entry.flags = header->flags;
    entry.method = header->method;
    entry.modified = header->modified;
    AddEntry(directory, entry, header->name);
    at = next;
  }
  directory.directoryOffset = at;
  return directory;
}

}  // namespace zipdrop
