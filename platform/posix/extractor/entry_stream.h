// One entry's data, from its bytes in the archive to its content: the raw bytes are read with
// pread from the entry's own range and handed to the decoder of its method, and the content is
// checked against the declared size and CRC-32 before the writer may publish the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/entry_writer.h"
#include "platform/posix/extractor/zip_decryption.h"

namespace zipdrop {

/// The raw bytes of one entry, [begin, end) of the archive file, through a reusable buffer. A
/// decryption stage, when there is one, goes between this and the decoder: it takes the bytes of
/// Available() and hands the decoder its own.
class RawSource {
 public:
  RawSource(int fd, std::uint64_t begin, std::uint64_t end, std::vector<unsigned char>& buffer)
      : fd_(fd), next_(begin), end_(end), buffer_(buffer) {}
  RawSource(const RawSource&) = delete;
  RawSource& operator=(const RawSource&) = delete;

  /// The bytes read and not yet consumed.
  std::span<const unsigned char> Available() const {
    return {buffer_.data() + begin_, filled_ - begin_};
  }
  void Consume(std::size_t count) { begin_ += count; }
  /// Reads more of the range after the unconsumed bytes; false when none is left or the file
  /// cannot be read.
  bool Refill();
  /// Whether the range holds nothing beyond Available().
  bool Exhausted() const { return next_ == end_; }
  /// Decrypts every byte as it is read, before the decoder sees it.
  void DecryptWith(EntryDecryption* decryption) { decryption_ = decryption; }
  /// Reads the rest of the range, unused: a decryption that authenticates all it saw must see it.
  void Drain();
  /// The file offset of the first byte not consumed.
  std::uint64_t Position() const { return next_ - (filled_ - begin_); }

 private:
  int fd_;
  std::uint64_t next_;  // The file offset of the next byte to read.
  std::uint64_t end_;
  std::vector<unsigned char>& buffer_;
  std::size_t begin_ = 0;
  std::size_t filled_ = 0;
  EntryDecryption* decryption_ = nullptr;
};

/// How far one call of a decoder got.
struct DecodeStep {
  enum Status { kMore, kNeedInput, kEnd, kDamaged };
  std::size_t produced = 0;
  Status status = kMore;
};

/// A decoder for one compression method, reused from entry to entry by one worker.
class MethodDecoder {
 public:
  virtual ~MethodDecoder() = default;
  /// Prepares for the entry's stream, whose bytes source gives; false when it cannot.
  virtual bool Begin(const CentralEntry& entry, RawSource& source) = 0;
  /// Decodes what it can of source.Available() into output, consuming what it used. kNeedInput
  /// asks for more input than is available before it can go on.
  virtual DecodeStep Decode(RawSource& source, std::span<char> output) = 0;
};

/// The decoders of one worker, one per method, made when first needed.
class DecoderSet {
 public:
  DecoderSet();
  DecoderSet(const DecoderSet&) = delete;
  DecoderSet& operator=(const DecoderSet&) = delete;
  ~DecoderSet();

  /// The decoder for the method, or nullptr when no decoder knows it.
  MethodDecoder* For(std::uint16_t method);

 private:
  std::vector<std::pair<std::uint16_t, std::unique_ptr<MethodDecoder>>> decoders_;
};

/// An entry's content, decoded block by block, for the writer. Read fails (-1) when the data
/// cannot be read or decoded, or, at its end, when it does not have the declared size (but
/// for a multiple of 2^32, when the CRC-32 is known) and CRC-32: the file is then never published.
class EntryStream final : public EntryData {
 public:
  /// Reads the entry's bytes [dataOffset, dataOffset + compressedSize) from fd.
  EntryStream(int fd, const CentralEntry& entry, MethodDecoder& decoder,
              std::vector<unsigned char>& buffer);

  /// Decrypts the bytes before they are decoded; at the end, the decryption must also
  /// authenticate them with the trailer, and the CRC is checked only when crcKnown.
  void Decrypt(EntryDecryption& decryption, std::vector<unsigned char> trailer, bool crcKnown);

  std::ptrdiff_t Read(char* buffer, std::size_t size) override;

  /// Leaves the CRC-32 to the reader of the content, who may run on another thread than the
  /// decoder: Read then ends (0) without it, and the reader must hold the CRC of all it read
  /// against CrcMatches before it publishes anything.
  void LeaveCrcToReader() { crcLeft_ = true; }
  /// Whether crc, of all the content, is the declared one (or none is known).
  bool CrcMatches(std::uint32_t crc) const { return !crcKnown_ || crc == entry_.crc; }

  /// Whether the decoder wanted more bytes than the entry's range holds.
  bool RanOutOfInput() const { return ranOut_; }
  /// Where in the file the bytes the decoder consumed end.
  std::uint64_t ConsumedEnd() const { return source_.Position(); }

 private:
  std::ptrdiff_t Finish();

  const CentralEntry& entry_;
  MethodDecoder& decoder_;
  RawSource source_;
  std::uint64_t produced_ = 0;
  std::uint32_t crc_ = 0;
  bool started_ = false;
  bool ended_ = false;
  bool failed_ = false;
  bool ranOut_ = false;
  EntryDecryption* decryption_ = nullptr;
  std::vector<unsigned char> trailer_;
  bool crcKnown_ = true;
  bool crcLeft_ = false;
};

}  // namespace zipdrop
