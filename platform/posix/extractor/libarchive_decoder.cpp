// The methods we do not decode ourselves (PPMd) go through libarchive's ZIP reader, fed from the
// entry's own range like every other decoder: it is shown a local header made up here from the
// central directory's account, followed by the entry's bytes, and nothing else of the archive.
#include <archive.h>
#include <archive_entry.h>

#include <string>

#include "platform/posix/extractor/byte_order.h"
#include "platform/posix/extractor/extra_fields.h"
#include "platform/posix/extractor/method_decoders.h"
#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

namespace {

void Put16(std::string& out, std::uint64_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, std::uint64_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, (value >> 16) & 0xFFFF);
}

// A local header that says exactly what the central directory says, with sizes in zip64 form
// where they need it. Only the bits that tune the method are kept from the flags: no encryption,
// no data descriptor, no name charset.
std::string MadeUpLocalHeader(const CentralEntry& entry) {
  bool zip64 = entry.compressedSize >= kSaturated32 || entry.uncompressedSize >= kSaturated32;
  std::string header;
  Put32(header, 0x04034b50);
  Put16(header, 63);
  Put16(header, entry.flags & kFlagMethodOptions);
  Put16(header, entry.method);
  Put16(header, 0), Put16(header, 0x21);  // 1980-01-01: the time is taken from elsewhere.
  Put32(header, entry.crc);
  Put32(header, zip64 ? kSaturated32 : entry.compressedSize);
  Put32(header, zip64 ? kSaturated32 : entry.uncompressedSize);
  Put16(header, 1), Put16(header, zip64 ? 20 : 0);
  header += 'x';
  if (zip64) {
    Put16(header, kExtraZip64), Put16(header, 16);
    Put32(header, entry.uncompressedSize), Put32(header, entry.uncompressedSize >> 32);
    Put32(header, entry.compressedSize), Put32(header, entry.compressedSize >> 32);
  }
  return header;
}

class LibarchiveDecoder final : public MethodDecoder {
 public:
  bool Begin(const CentralEntry& entry, RawSource& source) override {
    source_ = &source;
    header_ = MadeUpLocalHeader(entry);
    headerSent_ = false;
    archive_.reset(archive_read_new());
    if (!archive_) return false;
    archive_read_support_format_zip_streamable(archive_.get());
    // The entry's stream checks the CRC itself, and only where there is one: AE-2 (WinZip AES as
    // 7-Zip writes it) stores none, and libarchive would hold the zero in its place against the
    // content.
    if (archive_read_set_format_option(archive_.get(), "zip", "ignorecrc32", "1") != ARCHIVE_OK) {
      return false;
    }
    if (archive_read_open(archive_.get(), this, nullptr, ReadCallback, nullptr) != ARCHIVE_OK) {
      return false;
    }
    archive_entry* header = nullptr;
    return archive_read_next_header(archive_.get(), &header) == ARCHIVE_OK;
  }

  DecodeStep Decode(RawSource&, std::span<char> output) override {
    la_ssize_t count = archive_read_data(archive_.get(), output.data(), output.size());
    if (count < 0) return {0, DecodeStep::kDamaged};
    if (count == 0) return {0, DecodeStep::kEnd};
    return {static_cast<std::size_t>(count), DecodeStep::kMore};
  }

 private:
  // libarchive keeps the block it was given until it asks for the next, and the source's buffer
  // is refilled only then.
  static la_ssize_t ReadCallback(archive*, void* self, const void** block) {
    auto* decoder = static_cast<LibarchiveDecoder*>(self);
    if (!decoder->headerSent_) {
      decoder->headerSent_ = true;
      *block = decoder->header_.data();
      return static_cast<la_ssize_t>(decoder->header_.size());
    }
    RawSource& source = *decoder->source_;
    if (source.Available().empty() && !source.Refill()) return 0;
    std::span<const unsigned char> bytes = source.Available();
    source.Consume(bytes.size());
    *block = bytes.data();
    return static_cast<la_ssize_t>(bytes.size());
  }

  RawSource* source_ = nullptr;
  std::string header_;
  bool headerSent_ = false;
  std::unique_ptr<archive, decltype(&archive_read_free)> archive_{nullptr, archive_read_free};
};

}  // namespace

std::unique_ptr<MethodDecoder> MakeLibarchiveDecoder() {
  return std::make_unique<LibarchiveDecoder>();
}

}  // namespace zipdrop
