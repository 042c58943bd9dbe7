#include "platform/posix/extractor/deflate_bits.h"

namespace zipdrop {

const std::array<std::uint16_t, 29> kDeflateLengthBase = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const std::array<std::uint8_t, 29> kDeflateLengthExtra = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const std::array<std::uint16_t, 30> kDeflateDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const std::array<std::uint8_t, 30> kDeflateDistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                            4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                            9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const std::array<std::uint8_t, 19> kDeflateCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                              11, 4,  12, 3, 13, 2, 14, 1, 15};

namespace {

std::uint32_t Reversed(std::uint32_t code, unsigned length) {
  std::uint32_t out = 0;
  for (unsigned i = 0; i < length; ++i, code >>= 1) out = (out << 1) | (code & 1);
  return out;
}

}  // namespace

HuffmanCode::Fill HuffmanCode::Build(const std::uint8_t* lengths, unsigned count,
                                     bool completeOnly) {
  std::array<std::uint16_t, 16> perLength{};
  for (unsigned i = 0; i < count; ++i) ++perLength[lengths[i]];
  perLength[0] = 0;
  int left = 1;
  bits = 0;
  for (unsigned length = 1; length < 16; ++length) {
    left = (left << 1) - perLength[length];
    if (left < 0) return Fill::kOversubscribed;
    if (perLength[length] != 0) bits = length;
  }
  if (completeOnly && left != 0) return Fill::kIncomplete;
  // A code with no symbol still gets a table of one entry that matches nothing.
  table.assign(std::size_t{1} << bits, 0);
  std::array<std::uint32_t, 16> next{};
  for (unsigned length = 1, code = 0; length < 16; ++length) {
    code = (code + perLength[length - 1]) << 1;
    next[length] = code;
  }
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    unsigned length = lengths[symbol];
    if (length == 0) continue;
    std::uint32_t reversed = Reversed(next[length]++, length);
    for (std::uint32_t i = reversed; i < table.size(); i += 1u << length) {
      table[i] = static_cast<std::uint16_t>(symbol << 4 | length);
    }
  }
  return left == 0 ? Fill::kComplete : Fill::kIncomplete;
}

// Every check costs little next to the ones after it, so a position that is not a header is
// usually turned down after a few bits.
bool ReadDynamicCodes(BitReader& in, HuffmanCode& literals, HuffmanCode& distances, bool strict) {
  unsigned literalCount = in.Take(5) + 257;
  unsigned distanceCount = in.Take(5) + 1;
  unsigned lengthCount = in.Take(4) + 4;
  if (literalCount > 286 || distanceCount > 30) return false;
  std::array<std::uint8_t, 19> lengthLengths{};
  for (unsigned i = 0; i < lengthCount; ++i) {
    lengthLengths[kDeflateCodeLengthOrder[i]] = static_cast<std::uint8_t>(in.Take(3));
  }
  HuffmanCode lengthCode;
  HuffmanCode::Fill fill = lengthCode.Build(lengthLengths.data(), 19, strict);
  if (fill == HuffmanCode::Fill::kOversubscribed || lengthCode.bits == 0) return false;
  if (strict && fill != HuffmanCode::Fill::kComplete) return false;
  std::array<std::uint8_t, 316> lengths{};
  for (unsigned i = 0; i < literalCount + distanceCount;) {
    int symbol = lengthCode.Decode(in);
    if (symbol < 0) return false;
    if (symbol < 16) {
      lengths[i++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    if (symbol == 16 && i == 0) return false;
    unsigned repeat = symbol == 16   ? in.Take(2) + 3
                      : symbol == 17 ? in.Take(3) + 3
                                     : in.Take(7) + 11;
    std::uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
    if (i + repeat > literalCount + distanceCount) return false;
    for (unsigned k = 0; k < repeat; ++k) lengths[i++] = value;
  }
  if (lengths[256] == 0 || in.Overrun()) return false;
  fill = literals.Build(lengths.data(), literalCount, strict);
  if (fill == HuffmanCode::Fill::kOversubscribed) return false;
  if (strict && fill != HuffmanCode::Fill::kComplete) return false;
  fill = distances.Build(lengths.data() + literalCount, distanceCount, strict);
  if (fill == HuffmanCode::Fill::kOversubscribed) return false;
  return !strict || fill == HuffmanCode::Fill::kComplete;
}

}  // namespace zipdrop
