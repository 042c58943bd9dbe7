// What the block finder and the marker decoder share: a reader of a DEFLATE stream's bits from
// a buffer held whole in memory, and the canonical Huffman codes of its blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace zipdrop {

/// The bits of a buffer, least significant first, from any bit position. Reading past the end
/// gives zeros and sets Overrun(): the caller decides whether that is the end or an error.
class BitReader {
 public:
  BitReader(std::span<const std::uint8_t> data, std::uint64_t bit) : data_(data) { Seek(bit); }

  void Seek(std::uint64_t bit) {
    next_ = bit / 8;
    bits_ = 0;
    count_ = 0;
    Refill();
    Skip(static_cast<unsigned>(bit % 8));
  }
  /// The next count (at most 32) bits, not consumed.
  std::uint32_t Peek(unsigned count) {
    if (count_ < count) Refill();
    return static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << count) - 1));
  }
  void Skip(unsigned count) {
    if (count_ < count) Refill();
    bits_ >>= count;
    count_ -= count;
  }
  std::uint32_t Take(unsigned count) {
    std::uint32_t value = Peek(count);
    Skip(count);
    return value;
  }
  /// The position of the next bit to read.
  std::uint64_t Position() const { return next_ * 8 - count_; }
  bool Overrun() const { return Position() > data_.size() * 8; }
  std::span<const std::uint8_t> Data() const { return data_; }

 private:
  // Eight bytes at once while the buffer has them; the bits past the whole bytes counted are
  // loaded again, identical, by the next refill.
  void Refill() {
    if (next_ + 8 <= data_.size()) {
      std::uint64_t word;
      std::memcpy(&word, data_.data() + next_, 8);
      bits_ |= word << count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      std::uint64_t byte = next_ < data_.size() ? data_[next_] : 0;
      bits_ |= byte << count_;
      ++next_;
      count_ += 8;
    }
  }

  std::span<const std::uint8_t> data_;
  std::uint64_t next_ = 0;  // The next byte to load into bits_.
  std::uint64_t bits_ = 0;
  unsigned count_ = 0;
};

/// A canonical Huffman code as one table indexed by the next `bits` bits: symbol << 4 | length,
/// 0 where no code matches.
struct HuffmanCode {
  enum class Fill { kComplete, kIncomplete, kOversubscribed };
  std::vector<std::uint16_t> table;
  unsigned bits = 0;
  /// Builds the table and says how the lengths fill the code space; an oversubscribed code, or
  /// with completeOnly an incomplete one, gets no table.
  Fill Build(const std::uint8_t* lengths, unsigned count, bool completeOnly = false);
  /// The next symbol, or -1 where the bits match no code.
  int Decode(BitReader& in) const {
    std::uint16_t entry = table[in.Peek(bits)];
    if (entry == 0) return -1;
    in.Skip(entry & 15);
    return entry >> 4;
  }
};

/// How DEFLATE's length and distance codes map to values.
extern const std::array<std::uint16_t, 29> kDeflateLengthBase;
extern const std::array<std::uint8_t, 29> kDeflateLengthExtra;
extern const std::array<std::uint16_t, 30> kDeflateDistanceBase;
extern const std::array<std::uint8_t, 30> kDeflateDistanceExtra;
extern const std::array<std::uint8_t, 19> kDeflateCodeLengthOrder;

/// Reads a dynamic block's code lengths (after the 3 header bits) into literal and distance
/// codes. With strict, only a header a real encoder would write passes: every code complete.
/// False when the header is invalid.
bool ReadDynamicCodes(BitReader& in, HuffmanCode& literals, HuffmanCode& distances, bool strict);

}  // namespace zipdrop
