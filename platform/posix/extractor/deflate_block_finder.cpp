// Hand-written: no packaged library finds DEFLATE blocks without decoding from the start. The
// tests are the published ones: a false positive passes them about once per several hundred
// megabytes of random data, and any that does is caught by the check that confirms a guess.
#include "platform/posix/extractor/deflate_block_finder.h"

#include "platform/posix/extractor/deflate_bits.h"

namespace zipdrop {

namespace {

// The 3 header bits of a non-final dynamic block: BFINAL 0, BTYPE 2.
constexpr std::uint32_t kDynamicHeader = 4;

bool DynamicBlockAt(std::span<const std::uint8_t> data, std::uint64_t bit) {
  BitReader in(data, bit);
  std::uint32_t head = in.Peek(13);
  if ((head & 7) != kDynamicHeader) return false;
  // HLIT and HDIST both at most 29.
  if (((head >> 3) & 31) > 29 || ((head >> 8) & 31) > 29) return false;
  in.Skip(3);
  HuffmanCode literals;
  HuffmanCode distances;
  return ReadDynamicCodes(in, literals, distances, true);
}

// A stored block whose 3 header bits are 0 (non-final, stored) at `bit` has its LEN at the
// next byte boundary after them.
std::optional<BlockStart> StoredBlockAt(std::span<const std::uint8_t> data, std::uint64_t bit) {
  std::uint64_t lengthByte = (bit + 3 + 7) / 8;
  if (lengthByte + 4 > data.size() || lengthByte * 8 < 10) return std::nullopt;
  unsigned length = data[lengthByte] | data[lengthByte + 1] << 8;
  unsigned inverse = data[lengthByte + 2] | data[lengthByte + 3] << 8;
  if ((length ^ 0xFFFF) != inverse) return std::nullopt;
  BlockStart start{lengthByte * 8, true, 0};
  for (unsigned i = 0; i < 8; ++i) {
    std::uint64_t header = start.bit - 10 + i;
    if (BitReader(data, header).Peek(3) == 0) start.storedHeaders |= 1u << i;
  }
  return start;
}

}  // namespace

bool BlockStart::BeganAt(std::uint64_t at) const {
  if (!stored) return at == bit;
  return at + 10 >= bit && at + 3 <= bit && (storedHeaders >> (at + 10 - bit) & 1) != 0;
}

std::optional<BlockStart> FindBlockStart(std::span<const std::uint8_t> data, std::uint64_t fromBit,
                                         std::uint64_t toBit) {
  std::uint64_t end = std::min<std::uint64_t>(toBit, data.size() * 8);
  BitReader in(data, fromBit);
  for (std::uint64_t bit = fromBit; bit < end; ++bit, in.Skip(1)) {
    std::uint32_t head = in.Peek(3);
    if (head == 0) {
      if (auto stored = StoredBlockAt(data, bit)) return stored;
    } else if (head == kDynamicHeader && DynamicBlockAt(data, bit)) {
      return BlockStart{bit, false, 0};
    }
  }
  return std::nullopt;
}

}  // namespace zipdrop
