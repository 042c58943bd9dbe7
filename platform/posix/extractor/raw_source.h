// The raw bytes of one entry, read with pread from the entry's own range of the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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

}  // namespace zipdrop
