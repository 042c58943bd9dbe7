#include "platform/posix/extractor/inflater.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/posix/extractor/deflate_bits.h"

namespace zipdrop {

namespace {

constexpr std::size_t kWindowSize = 1 << 16;  // Deflate64's; DEFLATE needs half of it.
constexpr std::size_t kWindowMask = kWindowSize - 1;
constexpr unsigned kEndOfBlock = 256;

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint32_t, 32> kDistanceBase = {
    1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::array<std::uint8_t, 32> kDistanceExtra = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3, 4,
                                                         4,  5,  5,  6,  6,  7,  7,  8,  8,  9, 9,
                                                         10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

}  // namespace

// Oversubscribed codes are refused; incomplete ones are allowed (a distance code with one
// symbol is), and their unused bit patterns decode as errors. The table is the one the
// parallel decoder's codes use.
bool Inflater::Code::Build(const std::uint8_t* lengths, unsigned count) {
  HuffmanCode code;
  if (code.Build(lengths, count) == HuffmanCode::Fill::kOversubscribed) return false;
  table = std::move(code.table);
  bits = code.bits;
  return true;
}

Inflater::Inflater(Variant variant) : variant_(variant), window_(kWindowSize) {}

void Inflater::Reset() {
  phase_ = Phase::kBlockHeader;
  final_ = false;
  bits_ = 0;
  bitCount_ = 0;
  storedLeft_ = matchLength_ = matchDistance_ = 0;
  total_ = 0;
}

bool Inflater::Fill(unsigned count) {
  while (bitCount_ < count && in_ != inEnd_) {
    bits_ |= static_cast<std::uint64_t>(*in_++) << bitCount_;
    bitCount_ += 8;
  }
  return bitCount_ >= count;
}

std::uint32_t Inflater::Take(unsigned count) {
  auto value = static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << count) - 1));
  bits_ >>= count;
  bitCount_ -= count;
  return value;
}

// Near the end of the stream fewer bits than the longest code may remain; the code found may
// still be complete, since the bits above the count are zero.
Inflater::Got Inflater::Symbol(const Code& code, unsigned& symbol) {
  Fill(code.bits);
  std::uint16_t entry = code.table[bits_ & ((std::uint64_t{1} << code.bits) - 1)];
  unsigned length = entry & 15;
  if (length == 0) return Got::kBad;
  if (length > bitCount_) return last_ ? Got::kBad : Got::kNeedInput;
  Take(length);
  symbol = entry >> 4;
  return Got::kYes;
}

Inflater::Got Inflater::DynamicCodes() {
  if (!Fill(14)) return last_ ? Got::kBad : Got::kNeedInput;
  unsigned literalCount = Take(5) + 257;
  unsigned distanceCount = Take(5) + 1;
  unsigned lengthCount = Take(4) + 4;
  bool wide = variant_ == Variant::kDeflate64;
  if (literalCount > 286 || distanceCount > (wide ? 32u : 30u)) return Got::kBad;
  std::array<std::uint8_t, 19> lengthLengths{};
  for (unsigned i = 0; i < lengthCount; ++i) {
    if (!Fill(3)) return last_ ? Got::kBad : Got::kNeedInput;
    lengthLengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(Take(3));
  }
  Code lengthCode;
  if (!lengthCode.Build(lengthLengths.data(), 19) || lengthCode.bits == 0) return Got::kBad;
  std::array<std::uint8_t, 320> lengths{};
  for (unsigned i = 0; i < literalCount + distanceCount;) {
    unsigned symbol = 0;
    if (Got got = Symbol(lengthCode, symbol); got != Got::kYes) return got;
    if (symbol < 16) {
      lengths[i++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    if (!Fill(extra)) return last_ ? Got::kBad : Got::kNeedInput;
    unsigned repeat = Take(extra) + (symbol == 16 ? 3 : symbol == 17 ? 3 : 11);
    if (symbol == 16 && i == 0) return Got::kBad;
    std::uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
    if (i + repeat > literalCount + distanceCount) return Got::kBad;
    for (unsigned k = 0; k < repeat; ++k) lengths[i++] = value;
  }
  if (lengths[kEndOfBlock] == 0) return Got::kBad;
  if (!literals_.Build(lengths.data(), literalCount)) return Got::kBad;
  if (!distances_.Build(lengths.data() + literalCount, distanceCount)) return Got::kBad;
  // A block of literals only may have no distance code at all; a table of one entry that
  // matches nothing then turns any distance into an error.
  if (distances_.bits == 0) distances_.table.assign(1, 0);
  return Got::kYes;
}

Inflater::Got Inflater::BlockHeader() {
  if (!Fill(3)) return last_ ? Got::kBad : Got::kNeedInput;
  final_ = Take(1) != 0;
  unsigned type = Take(2);
  if (type == 0) {
    Take(bitCount_ % 8);
    if (!Fill(32)) return last_ ? Got::kBad : Got::kNeedInput;
    std::uint32_t length = Take(16);
    if ((Take(16) ^ 0xFFFF) != length) return Got::kBad;
    storedLeft_ = length;
    phase_ = Phase::kStored;
    return Got::kYes;
  }
  if (type == 1) {
    std::array<std::uint8_t, 320> lengths{};
    std::fill(lengths.begin(), lengths.begin() + 144, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    std::fill(lengths.begin() + 280, lengths.begin() + 288, 8);
    std::fill(lengths.begin() + 288, lengths.begin() + 320, 5);
    literals_.Build(lengths.data(), 288);
    distances_.Build(lengths.data() + 288, 32);
    phase_ = Phase::kCodes;
    return Got::kYes;
  }
  if (type == 3) return Got::kBad;
  Got got = DynamicCodes();
  if (got == Got::kYes) phase_ = Phase::kCodes;
  return got;
}

void Inflater::Emit(std::uint8_t byte) {
  window_[total_ & kWindowMask] = byte;
  *out_++ = static_cast<char>(byte);
  ++total_;
}

void Inflater::CopyStored() {
  while (storedLeft_ > 0 && out_ != outEnd_) {
    if (bitCount_ >= 8) {
      Emit(static_cast<std::uint8_t>(Take(8)));
      --storedLeft_;
      continue;
    }
    if (in_ == inEnd_) return;
    Emit(*in_++);
    --storedLeft_;
  }
}

void Inflater::CopyMatch() {
  while (matchLength_ > 0 && out_ != outEnd_) {
    Emit(window_[(total_ - matchDistance_) & kWindowMask]);
    --matchLength_;
  }
}

// One literal, the end of the block, or one match (whose copy is started), read whole or not at
// all: when the input runs out within it, everything read of it is given back.
Inflater::Got Inflater::NextSymbol() {
  unsigned symbol = 0;
  if (Got got = Symbol(literals_, symbol); got != Got::kYes) return got;
  if (symbol < kEndOfBlock) {
    Emit(static_cast<std::uint8_t>(symbol));
    return Got::kYes;
  }
  if (symbol == kEndOfBlock) {
    phase_ = final_ ? Phase::kDone : Phase::kBlockHeader;
    return Got::kYes;
  }
  unsigned index = symbol - 257;
  if (index >= kLengthBase.size()) return Got::kBad;
  bool wide = variant_ == Variant::kDeflate64;
  unsigned extra = (wide && index == 28) ? 16 : kLengthExtra[index];
  unsigned base = (wide && index == 28) ? 3 : kLengthBase[index];
  if (!Fill(extra)) return last_ ? Got::kBad : Got::kNeedInput;
  std::uint32_t length = base + Take(extra);
  unsigned code = 0;
  if (Got got = Symbol(distances_, code); got != Got::kYes) return got;
  if (code >= (wide ? 32u : 30u)) return Got::kBad;
  if (!Fill(kDistanceExtra[code])) return last_ ? Got::kBad : Got::kNeedInput;
  std::uint32_t distance = kDistanceBase[code] + Take(kDistanceExtra[code]);
  if (distance > total_) return Got::kBad;
  matchLength_ = length;
  matchDistance_ = distance;
  return Got::kYes;
}

Inflater::Result Inflater::Inflate(std::span<const std::uint8_t> input, bool last,
                                   std::span<char> output) {
  in_ = input.data();
  inEnd_ = input.data() + input.size();
  last_ = last;
  out_ = output.data();
  outEnd_ = output.data() + output.size();
  Got got = Got::kYes;
  while (out_ != outEnd_ && got == Got::kYes && phase_ != Phase::kDone) {
    if (phase_ == Phase::kStored) {
      CopyStored();
      if (storedLeft_ == 0) {
        phase_ = final_ ? Phase::kDone : Phase::kBlockHeader;
      } else if (out_ != outEnd_) {
        got = last_ ? Got::kBad : Got::kNeedInput;
      }
      continue;
    }
    if (matchLength_ > 0) {
      CopyMatch();
      continue;
    }
    // Saved so that a symbol cut short by the end of the input is read again whole.
    const std::uint8_t* savedIn = in_;
    std::uint64_t savedBits = bits_;
    unsigned savedCount = bitCount_;
    got = phase_ == Phase::kBlockHeader ? BlockHeader() : NextSymbol();
    if (got == Got::kNeedInput) {
      in_ = savedIn, bits_ = savedBits, bitCount_ = savedCount;
    }
  }
  Result result;
  result.consumed = static_cast<std::size_t>(in_ - input.data());
  result.produced = static_cast<std::size_t>(out_ - output.data());
  if (got == Got::kBad) {
    result.status = Status::kDamaged;
  } else if (phase_ == Phase::kDone && matchLength_ == 0) {
    result.status = Status::kEnd;
  } else if (got == Got::kNeedInput) {
    result.status = Status::kNeedInput;
  }
  return result;
}

}  // namespace zipdrop
