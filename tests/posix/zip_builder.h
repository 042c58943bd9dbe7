// A small writer of ZIP files for tests, byte by byte, so that a test can make exactly the archive
// it needs: names in any bytes and encoding, hostile names, flags that lie, Unix modes, symlinks,
// Info-ZIP Unicode path fields, a local header that disagrees with the central directory, a wrong
// CRC or a size that runs past the end of the file.
//
// Data is always written as it is given ("stored"); the method field may still claim any method,
// which makes an entry in a method the reader does not know. For realistic deflated or encrypted
// archives, WriteLibarchiveZip below drives libarchive's own writer.
//
// Usage:
//   ZipBuilder zip;
//   zip.AddFile("dir/a.txt", "hello").AddFolder("dir/").AddSymlink("lnk", "/etc");
//   ZipEntrySpec raw{.name = "\x93\xfa\x96\x7b.txt", .data = "cp932"};
//   zip.Add(raw);
//   zip.WriteTo(path);
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zipdrop::testing {

inline constexpr std::uint16_t kFlagEncrypted = 1u << 0;
inline constexpr std::uint16_t kFlagUtf8 = 1u << 11;
inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflate64 = 9;  // A method libarchive cannot decode.

/// One entry, described field by field. Every field has a harmless default.
struct ZipEntrySpec {
  std::string name{};                   // Raw name bytes, as stored in both headers.
  std::string data{};                   // Content, written as it is (stored).
  std::uint16_t flags = 0;               // General-purpose bits: kFlagUtf8, kFlagEncrypted...
  std::uint16_t method = kMethodStored;  // Claimed method; the bytes are never compressed.
  std::optional<std::uint32_t> unixMode{};  // Full st_mode (type and permission bits), "made by Unix".
  std::uint32_t dosAttributes = 0;       // Low 16 bits of the external attributes (0x10 = folder).
  std::optional<std::time_t> mtime{};    // Written as an extended-timestamp field (0x5455).
  std::optional<std::string> unicodePath{};  // UTF-8 name in an Info-ZIP field (0x7075).
  bool unicodePathCrcMatches = true;     // False stores a CRC that does not match the name.
  std::optional<std::string> localName{};  // A different name for the local header only.
  std::optional<std::uint32_t> crc{};    // Overrides the correct CRC-32 of data.
  std::optional<std::uint32_t> size{};   // Overrides both sizes (compressed and uncompressed).
};

/// CRC-32 (the ZIP polynomial). Written here because the test binary links libarchive but not
/// zlib, and a test archive needs correct CRCs as much as it sometimes needs wrong ones.
inline std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

class ZipBuilder {
 public:
  ZipBuilder& Add(ZipEntrySpec entry) {
    entries_.push_back(std::move(entry));
    return *this;
  }
  ZipBuilder& AddFile(const std::string& name, const std::string& data,
                      std::uint32_t mode = 0100644) {
    return Add({.name = name, .data = data, .unixMode = mode});
  }
  ZipBuilder& AddFolder(const std::string& name, std::uint32_t mode = 040755) {
    return Add({.name = name, .unixMode = mode, .dosAttributes = 0x10});
  }
  ZipBuilder& AddSymlink(const std::string& name, const std::string& target) {
    return Add({.name = name, .data = target, .unixMode = 0120777});
  }

  /// The whole archive: local headers with data, the central directory, the end record.
  std::string Build() const {
    std::string out, central;
    for (const ZipEntrySpec& entry : entries_) {
      std::uint32_t offset = static_cast<std::uint32_t>(out.size());
      out += Header(entry, false, 0) + entry.data;
      central += Header(entry, true, offset);
    }
    std::uint32_t centralOffset = static_cast<std::uint32_t>(out.size());
    out += central;
    Put32(out, 0x06054b50);
    Put16(out, 0), Put16(out, 0);
    Put16(out, static_cast<std::uint16_t>(entries_.size()));
    Put16(out, static_cast<std::uint16_t>(entries_.size()));
    Put32(out, static_cast<std::uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
  }

  void WriteTo(const std::string& path) const { WriteBytes(path, Build()); }

  static std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  static void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
  }

 private:
  static void Put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
  }
  static void Put32(std::string& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
  }

  static std::string Extra(const ZipEntrySpec& entry, const std::string& name) {
    std::string extra;
    if (entry.mtime) {
      Put16(extra, 0x5455), Put16(extra, 5);
      extra.push_back(1);  // Only the modification time follows.
      Put32(extra, static_cast<std::uint32_t>(*entry.mtime));
    }
    if (entry.unicodePath) {
      Put16(extra, 0x7075);
      Put16(extra, static_cast<std::uint16_t>(5 + entry.unicodePath->size()));
      extra.push_back(1);  // Version.
      Put32(extra, Crc32(name) ^ (entry.unicodePathCrcMatches ? 0u : 1u));
      extra += *entry.unicodePath;
    }
    return extra;
  }

  static std::string Header(const ZipEntrySpec& entry, bool central, std::uint32_t offset) {
    const std::string& name = (!central && entry.localName) ? *entry.localName : entry.name;
    std::string extra = Extra(entry, name);
    std::uint32_t size = entry.size.value_or(static_cast<std::uint32_t>(entry.data.size()));
    std::string out;
    Put32(out, central ? 0x02014b50 : 0x04034b50);
    if (central) Put16(out, entry.unixMode ? (3u << 8) | 20 : 20);  // Made by Unix or DOS.
    Put16(out, 20);
    Put16(out, entry.flags);
    Put16(out, entry.method);
    Put16(out, 0x6000), Put16(out, 0x5821);  // DOS time and date: 2024-01-01 12:00.
    Put32(out, entry.crc.value_or(Crc32(entry.data)));
    Put32(out, size), Put32(out, size);
    Put16(out, static_cast<std::uint16_t>(name.size()));
    Put16(out, static_cast<std::uint16_t>(extra.size()));
    if (central) {
      Put16(out, 0), Put16(out, 0), Put16(out, 0);  // Comment length, disk, internal attributes.
      Put32(out, (entry.unixMode.value_or(0) << 16) | entry.dosAttributes);
      Put32(out, offset);
    }
    return out + name + extra;
  }

  std::vector<ZipEntrySpec> entries_;
};

/// One regular file for WriteLibarchiveZip.
struct LibarchiveFile {
  std::string name;
  std::string data;
};

/// Writes a ZIP file with libarchive's writer, e.g. options "zip:compression=deflate" or
/// "zip:encryption=traditional" (ZipCrypto, which also needs a passphrase). Throws on failure.
inline void WriteLibarchiveZip(const std::string& path, const std::vector<LibarchiveFile>& files,
                               const std::string& options = "zip:compression=deflate",
                               const std::string& passphrase = "") {
  struct Writer {
    archive* a = archive_write_new();
    ~Writer() { archive_write_free(a); }
  } writer;
  struct Entry {
    archive_entry* e = archive_entry_new();
    ~Entry() { archive_entry_free(e); }
  };
  auto check = [&](int status) {
    if (status < ARCHIVE_OK) throw std::runtime_error(archive_error_string(writer.a));
  };
  check(archive_write_set_format_zip(writer.a));
  check(archive_write_set_options(writer.a, options.c_str()));
  if (!passphrase.empty()) check(archive_write_set_passphrase(writer.a, passphrase.c_str()));
  check(archive_write_open_filename(writer.a, path.c_str()));
  for (const LibarchiveFile& file : files) {
    Entry entry;
    archive_entry_set_pathname(entry.e, file.name.c_str());
    archive_entry_set_filetype(entry.e, AE_IFREG);
    archive_entry_set_perm(entry.e, 0644);
    archive_entry_set_size(entry.e, static_cast<la_int64_t>(file.data.size()));
    check(archive_write_header(writer.a, entry.e));
    if (archive_write_data(writer.a, file.data.data(), file.data.size()) < 0) check(ARCHIVE_FATAL);
  }
  check(archive_write_close(writer.a));
}

}  // namespace zipdrop::testing
