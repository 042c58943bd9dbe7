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
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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
  std::optional<std::uint64_t> uncompressedSize{};  // Overrides the uncompressed size alone; past
                                                    // 32 bits it goes into a zip64 field.
  std::optional<std::size_t> headerOf{};  // Writes no local header or data: the central record
                                          // points at the local header of this earlier entry.
  std::uint8_t host = 0;  // "Made by" host when unixMode is not given: 0 is MS-DOS, 11 NTFS.
};

/// How the whole archive is laid out around the entries.
struct ZipLayout {
  std::string prefix{};   // Bytes before the first entry, as a self-extractor stub puts there.
  std::string comment{};  // The archive comment after the end record.
  std::string suffix{};   // Bytes after the comment that no length covers.
  bool reverseCentral = false;  // Lists the entries in the central directory back to front.
  bool zip64End = false;  // Writes the zip64 end record and locator (always past 65,535 entries).
};

/// CRC-32 (the ZIP polynomial), from zlib: a bit-by-bit loop takes seconds on a large entry in the
/// sanitized test build.
inline std::uint32_t Crc32(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32_z(0, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
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

  ZipBuilder& Layout(ZipLayout layout) {
    layout_ = std::move(layout);
    return *this;
  }

  /// The whole archive: local headers with data, the central directory, the end record.
  std::string Build() const {
    std::string out = layout_.prefix;
    std::vector<std::string> central;
    std::vector<std::uint32_t> offsets;
    for (const ZipEntrySpec& entry : entries_) {
      std::uint32_t offset = static_cast<std::uint32_t>(out.size() - layout_.prefix.size());
      if (entry.headerOf) {
        offset = offsets.at(*entry.headerOf);
      } else {
        out += Header(entry, false, 0) + entry.data;
      }
      offsets.push_back(offset);
      central.push_back(Header(entry, true, offset));
    }
    if (layout_.reverseCentral) std::reverse(central.begin(), central.end());
    std::uint64_t centralOffset = out.size() - layout_.prefix.size();
    std::uint64_t centralSize = 0;
    for (const std::string& record : central) out += record, centralSize += record.size();
    return out + EndRecords(out.size(), centralOffset, centralSize) + layout_.comment +
           layout_.suffix;
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

  static void Put64(std::string& out, std::uint64_t value) {
    Put32(out, static_cast<std::uint32_t>(value));
    Put32(out, static_cast<std::uint32_t>(value >> 32));
  }

  // The classic end record, preceded by the zip64 end record and its locator where asked for or
  // needed. at is where the records start in the whole output, prefix included.
  std::string EndRecords(std::uint64_t at, std::uint64_t centralOffset,
                         std::uint64_t centralSize) const {
    std::string out;
    std::uint64_t count = entries_.size();
    bool zip64 = layout_.zip64End || count > 0xFFFF;
    if (zip64) {
      Put32(out, 0x06064b50), Put64(out, 44), Put16(out, 45), Put16(out, 45);
      Put32(out, 0), Put32(out, 0), Put64(out, count), Put64(out, count);
      Put64(out, centralSize), Put64(out, centralOffset);
      Put32(out, 0x07064b50), Put32(out, 0);
      Put64(out, at - layout_.prefix.size()), Put32(out, 1);
    }
    std::uint16_t shortCount = zip64 ? 0xFFFF : static_cast<std::uint16_t>(count);
    Put32(out, 0x06054b50);
    Put16(out, 0), Put16(out, 0), Put16(out, shortCount), Put16(out, shortCount);
    Put32(out, static_cast<std::uint32_t>(centralSize));
    Put32(out, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(centralOffset));
    Put16(out, static_cast<std::uint16_t>(layout_.comment.size()));
    return out;
  }

  static std::string Extra(const ZipEntrySpec& entry, const std::string& name) {
    std::string extra;
    if (entry.uncompressedSize && *entry.uncompressedSize >= 0xFFFFFFFF) {
      Put16(extra, 0x0001), Put16(extra, 8), Put64(extra, *entry.uncompressedSize);
    }
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
    std::uint64_t uncompressed = entry.uncompressedSize.value_or(size);
    std::string out;
    Put32(out, central ? 0x02014b50 : 0x04034b50);
    if (central) Put16(out, static_cast<std::uint16_t>(((entry.unixMode ? 3u : entry.host) << 8) | 20));
    Put16(out, 20);
    Put16(out, entry.flags);
    Put16(out, entry.method);
    Put16(out, 0x6000), Put16(out, 0x5821);  // DOS time and date: 2024-01-01 12:00.
    Put32(out, entry.crc.value_or(Crc32(entry.data)));
    Put32(out, size);
    Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(uncompressed, 0xFFFFFFFF)));
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
  ZipLayout layout_;
};

/// A raw DEFLATE stream of plain from zlib. memLevel 1 ends a block every 128 symbols or so, so
/// that a small stream has many; a dictionary makes the stream refer back before its own start.
inline std::string RawDeflate(std::string_view plain, int level, int strategy = Z_DEFAULT_STRATEGY,
                              int memLevel = 1, std::string_view dictionary = {}) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy);
  deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                       static_cast<uInt>(dictionary.size()));
  std::string out(deflateBound(&z, plain.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

/// A deflated entry of `bytes` zero bytes, made in pieces: an archive of a few megabytes that
/// takes the extractor long enough to be caught in the middle.
inline ZipEntrySpec LargeZeroEntry(const std::string& name, std::uint64_t bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::vector<unsigned char> zeros(1 << 20), out(1 << 16);
  std::string compressed;
  uLong crc = crc32(0, nullptr, 0);
  for (std::uint64_t left = bytes; left > 0 || stream.avail_in > 0;) {
    std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
    crc = crc32_z(crc, zeros.data(), piece);
    left -= piece;
    stream.next_in = zeros.data();
    stream.avail_in = static_cast<uInt>(piece);
    int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      deflate(&stream, flush);
      compressed.append(reinterpret_cast<char*>(out.data()), out.size() - stream.avail_out);
    } while (stream.avail_out == 0);
    if (left == 0) break;
  }
  deflateEnd(&stream);
  return {.name = name, .data = compressed, .method = 8, .unixMode = 0100644,
          .crc = static_cast<std::uint32_t>(crc), .uncompressedSize = bytes};
}

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
