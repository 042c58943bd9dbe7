// Finding where a DEFLATE block begins in the middle of a stream, without decoding what came
// before: the first step of decoding one stream on several cores.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace zipdrop {

/// A position where a block plausibly begins. A guess: only the decoder coming from the start
/// of the stream can confirm it, by ending a block there (BeganAt).
struct BlockStart {
  /// A dynamic-Huffman block's first header bit, or a stored block's LEN field (byte aligned).
  std::uint64_t bit = 0;
  bool stored = false;
  /// For a stored block: which of the 8 positions before the padding its 3 header bits may
  /// take (bit i: the header at bit - 10 + i), all of which lead to the same LEN.
  std::uint8_t storedHeaders = 0;

  /// Whether a block beginning at `at` is this one.
  bool BeganAt(std::uint64_t at) const;
  /// The first bit before which the stream must end a block for BeganAt to hold.
  std::uint64_t Earliest() const { return stored ? bit - 10 : bit; }
};

/// The first block start in [fromBit, toBit) of data: a non-final dynamic-Huffman block whose
/// header a real encoder could have written (every code complete), or a non-final stored block
/// whose LEN and NLEN agree. Fixed-Huffman and final blocks are not looked for: too many
/// positions would pass.
std::optional<BlockStart> FindBlockStart(std::span<const std::uint8_t> data, std::uint64_t fromBit,
                                         std::uint64_t toBit);

}  // namespace zipdrop
