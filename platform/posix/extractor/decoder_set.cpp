#include "platform/posix/extractor/decoder_set.h"

#include "platform/posix/extractor/method_decoders.h"

namespace zipdrop {

DecoderSet::DecoderSet() = default;
DecoderSet::~DecoderSet() = default;

MethodDecoder* DecoderSet::For(std::uint16_t method) {
  for (auto& [known, decoder] : decoders_) {
    if (known == method) return decoder.get();
  }
  std::unique_ptr<MethodDecoder> decoder = MakeMethodDecoder(method);
  if (!decoder) return nullptr;
  decoders_.emplace_back(method, std::move(decoder));
  return decoders_.back().second.get();
}

}  // namespace zipdrop
