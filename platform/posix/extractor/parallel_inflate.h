// One large DEFLATE entry decoded on several cores. ISA-L decodes from the stream's start, as on
// one core; helper threads meanwhile find block starts further on (deflate_block_finder.h) and
// decode from them without the window (marker_inflater.h). When ISA-L ends a block exactly where
// a helper's chunk begins, the chunk's markers are resolved with the last 32 KiB of output and the
// chunk is used whole: its end is where the next chunk must begin. Anything else (a wrong guess,
// a chunk not ready, a helper's error) leaves the bytes to ISA-L, restarted where the last chunk
// used ended. Every byte is still checked against the entry's CRC before the file is published.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/extractor/deflate_block_finder.h"
#include "platform/posix/extractor/isal_library.h"
#include "platform/posix/extractor/marker_inflater.h"
#include "platform/posix/extractor/method_decoder.h"

namespace zipdrop {

struct ParallelInflateTuning {
  std::size_t chunkSize = 1 << 20;  // Compressed bytes per chunk.
  std::size_t helpers = 1;          // Threads decoding chunks ahead of ISA-L.
  /// Chunks decoded and not yet used, or being decoded, at most: with chunkSize and maxSymbols,
  /// the bound on the memory this adds, whatever the data.
  std::size_t slots = 4;
  std::size_t maxSymbols = 6 << 20;  // A chunk that gives more is left to ISA-L.
  /// Whether ISA-L waits for each chunk's helper instead of going on without it, so that every
  /// chunk a helper can decode is used. For tests and the fuzzer: it gives up the speed.
  bool patient = false;
};

/// The DEFLATE decoder that takes helper threads, for one entry at a time. It reads the entry's
/// bytes itself from the archive, at the offsets its chunks need.
class ParallelInflateDecoder final : public MethodDecoder {
 public:
  ParallelInflateDecoder(int fd, const IsalInflate& isal, ParallelInflateTuning tuning);
  ParallelInflateDecoder(const ParallelInflateDecoder&) = delete;
  ParallelInflateDecoder& operator=(const ParallelInflateDecoder&) = delete;
  ~ParallelInflateDecoder() override;

  bool Begin(const CentralEntry& entry, RawSource& source) override;
  DecodeStep Decode(RawSource& source, std::span<char> output) override;

  /// How many chunks of the current entry came from the helpers.
  std::size_t ChunksUsed() const { return chunksUsed_; }

 private:
  struct Slot;
  void StopHelpers();
  void Help();
  bool DecodeChunk(Slot& slot);
  Slot* WaitFor(std::size_t chunk);
  void Release(Slot* slot);
  void ReleaseBefore(std::size_t chunk);
  void Target(std::size_t chunk);
  bool AtLimit();
  bool RestartIsal(std::uint64_t bit);
  std::size_t RunIsal(std::span<char> output);
  std::size_t Emit(std::span<char> output);
  bool FinishChunk();
  void Remember(const char* bytes, std::size_t count);
  bool ReadAt(std::uint64_t offset, std::size_t count, std::vector<std::uint8_t>& into) const;

  const int fd_;
  const IsalInflate& isal_;
  const ParallelInflateTuning tuning_;
  std::uint64_t begin_ = 0;  // The entry's first byte in the archive.
  std::uint64_t size_ = 0;   // Its compressed size.
  std::size_t chunkCount_ = 0;

  // ISA-L's side, the front: it runs on the thread that calls Decode.
  std::unique_ptr<inflate_state> state_;
  std::vector<std::uint8_t> input_;
  std::uint64_t fed_ = 0;    // Bytes of the entry handed to ISA-L so far.
  std::uint64_t limit_ = 0;  // ISA-L is given bytes up to here, where it is checked.
  std::size_t next_ = 0;     // The chunk whose start the front looks for next.
  Slot* target_ = nullptr;   // That chunk's helper result, when it has one.
  Slot* emitting_ = nullptr;
  std::size_t emitted_ = 0;
  std::vector<std::uint8_t> window_;   // The 32 KiB before the chunk being emitted.
  std::vector<std::uint8_t> history_;  // The last 32 KiB of output, as a ring.
  std::uint64_t total_ = 0;            // Bytes of output so far.
  bool done_ = false;
  bool failed_ = false;
  std::size_t chunksUsed_ = 0;

  // The helpers' side.
  std::vector<std::unique_ptr<Slot>> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::size_t claim_ = 1;  // The next chunk a helper may claim.
  int barren_ = 0;         // Chunks in a row where no block start was found.
  std::vector<std::thread> helpers_;
};

/// How many helper threads a deflated entry should get when `spareCores` cores have nothing
/// else to do: 0 when the entry is too small to gain, or no core is spare.
std::size_t ParallelInflateHelpers(std::uint64_t compressedSize, std::uint64_t uncompressedSize,
                                   std::size_t spareCores);

}  // namespace zipdrop
