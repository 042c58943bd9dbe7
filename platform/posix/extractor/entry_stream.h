// One entry's data, from its bytes in the archive to its content: the raw bytes (raw_source.h) are
// handed to the decoder of its method (method_decoder.h), and the content is checked against the
// declared size and CRC-32 before the writer may publish the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/entry_writer.h"
#include "platform/posix/extractor/method_decoder.h"
#include "platform/posix/extractor/raw_source.h"
#include "platform/posix/extractor/zip_decryption.h"

namespace zipdrop {

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
