// What a decoder of one compression method does, and the set of them one worker keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/raw_source.h"

namespace zipdrop {

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

}  // namespace zipdrop
