#include "platform/posix/extractor/entry_stream.h"

#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

namespace {

// A decoder that neither reads nor writes this many times in a row is stuck on damaged data.
constexpr int kMostIdleSteps = 64;

// Some writers get a size past 4 GiB wrong by a multiple of 2^32: a 32-bit counter that
// wrapped, or a zip64 field that adds the wrapped part twice. The content is still the entry's
// when the CRC checks. Content larger than the declared size never gets here: the writer stops it.
bool SizeMatches(std::uint64_t produced, std::uint64_t declared) {
  return (produced & 0xFFFFFFFF) == (declared & 0xFFFFFFFF);
}

}  // namespace

EntryStream::EntryStream(int fd, const CentralEntry& entry, MethodDecoder& decoder,
                         std::vector<unsigned char>& buffer)
    : entry_(entry),
      decoder_(decoder),
      source_(fd, entry.dataOffset, entry.dataOffset + entry.compressedSize, buffer) {}

void EntryStream::Decrypt(EntryDecryption& decryption, std::vector<unsigned char> trailer,
                          bool crcKnown) {
  decryption_ = &decryption;
  trailer_ = std::move(trailer);
  crcKnown_ = crcKnown;
  source_.DecryptWith(decryption_);
}

std::ptrdiff_t EntryStream::Finish() {
  if (failed_) return -1;
  // Without a CRC (AE-2 encryption) nothing could confirm a size that differs.
  bool sizeMatches = crcKnown_ ? SizeMatches(produced_, entry_.uncompressedSize)
                               : produced_ == entry_.uncompressedSize;
  failed_ = !sizeMatches || (!crcLeft_ && !CrcMatches(crc_));
  if (!failed_ && decryption_) {
    source_.Drain();
    failed_ = !decryption_->Authenticates(trailer_);
  }
  return failed_ ? -1 : 0;
}

std::ptrdiff_t EntryStream::Read(char* buffer, std::size_t size) {
  if (failed_) return -1;
  if (ended_) return Finish();
  if (!started_) {
    started_ = true;
    failed_ = !decoder_.Begin(entry_, source_);
    if (failed_) return -1;
  }
  for (int idle = 0; idle < kMostIdleSteps;) {
    DecodeStep step = decoder_.Decode(source_, std::span<char>(buffer, size));
    if (step.produced > 0) {
      if (crcKnown_ && !crcLeft_) crc_ = ZipCrc32(std::string_view(buffer, step.produced), crc_);
      produced_ += step.produced;
    }
    if (step.status == DecodeStep::kDamaged) {
      failed_ = true;
      return -1;
    }
    if (step.status == DecodeStep::kEnd) {
      ended_ = true;
      return step.produced > 0 ? static_cast<std::ptrdiff_t>(step.produced) : Finish();
    }
    if (step.status == DecodeStep::kNeedInput && !source_.Refill()) {
      ranOut_ = failed_ = true;
      return -1;
    }
    if (step.produced > 0) return static_cast<std::ptrdiff_t>(step.produced);
    idle = step.status == DecodeStep::kNeedInput ? 0 : idle + 1;
  }
  failed_ = true;
  return -1;
}

}  // namespace zipdrop
