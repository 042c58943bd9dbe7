// The decoders of the compression methods, each behind MethodDecoder.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/posix/extractor/method_decoder.h"

namespace zipdrop {

/// A new decoder for the method, or nullptr when no decoder knows it.
std::unique_ptr<MethodDecoder> MakeMethodDecoder(std::uint16_t method);

/// PPMd and any other method that libarchive knows and we do not decode ourselves: libarchive's
/// own ZIP reader is shown one made-up local header followed by the entry's bytes from source.
std::unique_ptr<MethodDecoder> MakeLibarchiveDecoder();

/// Deflate64 (method 9), by our own decoder.
std::unique_ptr<MethodDecoder> MakeDeflate64Decoder();

}  // namespace zipdrop
