// The decoders one worker keeps, reused from entry to entry.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/posix/extractor/method_decoder.h"

namespace zipdrop {

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
