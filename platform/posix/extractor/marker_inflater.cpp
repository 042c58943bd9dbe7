// Hand-written: ISA-L, zlib and libdeflate all need the window before they decode a byte, and
// give no way to learn which output came from a window they were not given.
#include "platform/posix/extractor/marker_inflater.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/extractor/deflate_bits.h"

namespace zipdrop {

namespace {

constexpr std::size_t kLongestMatch = 258;

struct FixedCodes {
  HuffmanCode literals;
  HuffmanCode distances;
  FixedCodes() {
    std::uint8_t lengths[320];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    std::fill(lengths + 288, lengths + 320, 5);
    literals.Build(lengths, 288);
    distances.Build(lengths + 288, 30);
  }
};

class MarkerDecoder {
 public:
  MarkerDecoder(std::span<const std::uint8_t> data, std::size_t maxSymbols, MarkedChunk& chunk)
      : in_(data, 0), limit_(data.size() * 8), chunk_(chunk), max_(maxSymbols) {
    if (chunk_.symbols.size() < maxSymbols + kLongestMatch) {
      chunk_.symbols.resize(maxSymbols + kLongestMatch);
    }
    out_ = chunk_.symbols.data();
  }

  bool Run(const BlockStart& start, std::uint64_t stopBit) {
    in_.Seek(start.stored ? start.bit : start.bit + 3);
    bool final = false;
    for (bool ok = start.stored ? Stored() : Dynamic(); ok; ok = Block(final)) {
      if (in_.Position() > limit_) return false;
      if (final || in_.Position() >= stopBit) {
        chunk_.size = size_;
        chunk_.endBit = in_.Position();
        chunk_.final = final;
        return true;
      }
    }
    return false;
  }

 private:
  // One block from its header on.
  bool Block(bool& final) {
    final = in_.Take(1) != 0;
    switch (in_.Take(2)) {
      case 0:
        return Stored();
      case 1: {
        static const FixedCodes fixed;
        return Codes(fixed.literals, fixed.distances);
      }
      case 2:
        return Dynamic();
      default:
        return false;
    }
  }

  bool Dynamic() {
    if (!ReadDynamicCodes(in_, literals_, distances_, false)) return false;
    return Codes(literals_, distances_);
  }

  bool Stored() {
    in_.Skip(static_cast<unsigned>((8 - in_.Position() % 8) % 8));
    std::uint32_t length = in_.Take(16);
    if ((in_.Take(16) ^ 0xFFFF) != length) return false;
    std::uint64_t from = in_.Position() / 8;
    if (from + length > in_.Data().size() || size_ + length > max_) return false;
    const std::uint8_t* bytes = in_.Data().data() + from;
    for (std::uint32_t i = 0; i < length; ++i) out_[size_ + i] = bytes[i];
    size_ += length;
    in_.Seek((from + length) * 8);
    return true;
  }

  bool Codes(const HuffmanCode& literals, const HuffmanCode& distances) {
    for (;;) {
      if (size_ > max_ || in_.Position() > limit_) return false;
      int symbol = literals.Decode(in_);
      if (symbol < 0) return false;
      if (symbol < 256) {
        out_[size_++] = static_cast<std::uint16_t>(symbol);
        continue;
      }
      if (symbol == 256) return true;
      unsigned index = static_cast<unsigned>(symbol) - 257;
      if (index >= kDeflateLengthBase.size()) return false;
      std::size_t length = kDeflateLengthBase[index] + in_.Take(kDeflateLengthExtra[index]);
      int code = distances.Decode(in_);
      if (code < 0 || code >= 30) return false;
      std::size_t distance = kDeflateDistanceBase[code] + in_.Take(kDeflateDistanceExtra[code]);
      if (!Copy(distance, length)) return false;
    }
  }

  // A match reaching before the chunk gives markers for the window's bytes.
  bool Copy(std::size_t distance, std::size_t length) {
    if (distance > size_ + kDeflateWindow) return false;
    std::uint16_t* to = out_ + size_;
    if (distance <= size_) {
      const std::uint16_t* from = to - distance;
      for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
    } else {
      for (std::size_t i = 0; i < length; ++i) {
        std::size_t at = size_ + i;  // Always below distance + size_ + kDeflateWindow.
        to[i] = at >= distance
                    ? out_[at - distance]
                    : static_cast<std::uint16_t>(kMarkerBase + kDeflateWindow + at - distance);
      }
    }
    size_ += length;
    return true;
  }

  BitReader in_;
  std::uint64_t limit_;
  MarkedChunk& chunk_;
  std::size_t max_;
  std::uint16_t* out_;
  std::size_t size_ = 0;
  HuffmanCode literals_;
  HuffmanCode distances_;
};

}  // namespace

bool DecodeWithMarkers(std::span<const std::uint8_t> data, const BlockStart& start,
                       std::uint64_t stopBit, std::size_t maxSymbols, MarkedChunk& chunk) {
  return MarkerDecoder(data, maxSymbols, chunk).Run(start, stopBit);
}

bool ResolveMarkers(std::span<const std::uint16_t> symbols, const std::uint8_t* window,
                    std::size_t known, char* out) {
  std::uint16_t lowest = static_cast<std::uint16_t>(kMarkerBase + kDeflateWindow - known);
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    std::uint16_t symbol = symbols[i];
    if (symbol < 256) {
      out[i] = static_cast<char>(symbol);
    } else if (symbol >= lowest) {
      out[i] = static_cast<char>(window[symbol - kMarkerBase]);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace zipdrop
