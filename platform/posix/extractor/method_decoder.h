// What a decoder of one compression method does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

}  // namespace zipdrop
