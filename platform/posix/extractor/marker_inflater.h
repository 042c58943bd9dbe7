// Decoding a DEFLATE stream from the middle, before the 32 KiB of output that precede it are
// known: the second step of decoding one stream on several cores.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/posix/extractor/deflate_block_finder.h"

namespace zipdrop {

/// The 16-bit output of a chunk decoded without its window: 0-255 are bytes, and kMarkerBase + i
/// is byte i of the 32 KiB that preceded the chunk (the last of them is i = 32767).
inline constexpr std::uint16_t kMarkerBase = 32768;
inline constexpr std::size_t kDeflateWindow = 32768;

struct MarkedChunk {
  std::vector<std::uint16_t> symbols;  // Reused from chunk to chunk: only [0, size) is the output.
  std::size_t size = 0;
  std::uint64_t endBit = 0;  // Where the block the decoding stopped after ends.
  bool final = false;        // Whether that block is the stream's last.
};

/// Decodes data from the block at start until the end of the first block that ends at or after
/// stopBit, or of the final block. False when the data is not DEFLATE there, reaches more than
/// 32 KiB before start, runs past the end of data, or would give more than maxSymbols.
bool DecodeWithMarkers(std::span<const std::uint8_t> data, const BlockStart& start,
                       std::uint64_t stopBit, std::size_t maxSymbols, MarkedChunk& chunk);

/// Turns a chunk's output into bytes, given the 32 KiB before it, of which only the last
/// `known` exist (fewer near the stream's start). False when a marker names a byte before the
/// stream's start: the stream reaches back before its beginning.
bool ResolveMarkers(std::span<const std::uint16_t> symbols, const std::uint8_t* window,
                    std::size_t known, char* out);

}  // namespace zipdrop
