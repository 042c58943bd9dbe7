#include "platform/posix/extractor/parallel_inflate.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/posix/extractor/read_at.h"

namespace zipdrop {

namespace {

// ISA-L is handed the entry's bytes in pieces this large.
constexpr std::size_t kInputPiece = 1 << 20;
// After this many chunks in a row without a block start (stored data, one fixed-Huffman block,
// data that is not DEFLATE), the helpers stop: the rest is left to ISA-L.
constexpr int kBarrenChunks = 4;
// False block starts a helper tries past in one chunk before it leaves the chunk to ISA-L.
constexpr int kTriesPerChunk = 8;
// Below this much output a helper cannot gain back what starting it costs.
constexpr std::uint64_t kLeastOutput = 64 << 20;

}  // namespace

struct ParallelInflateDecoder::Slot {
  enum class State { kFree, kClaimed, kDone, kFailed };
  State state = State::kFree;
  bool abandoned = false;  // The front went past it while it was being decoded.
  bool found = false;      // Whether the chunk held a block start.
  std::size_t chunk = 0;
  std::vector<std::uint8_t> input;
  BlockStart start;  // In bits from the entry's first byte, as is marked.endBit.
  MarkedChunk marked;
};

ParallelInflateDecoder::ParallelInflateDecoder(int fd, const IsalInflate& isal,
                                               ParallelInflateTuning tuning)
    : fd_(fd),
      isal_(isal),
      tuning_(tuning),
      state_(std::make_unique<inflate_state>()),
      window_(kDeflateWindow),
      history_(kDeflateWindow) {
  for (std::size_t i = 0; i < std::max<std::size_t>(tuning_.slots, 1); ++i) {
    slots_.push_back(std::make_unique<Slot>());
  }
}

ParallelInflateDecoder::~ParallelInflateDecoder() { StopHelpers(); }

void ParallelInflateDecoder::StopHelpers() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
  helpers_.clear();
}

bool ParallelInflateDecoder::Begin(const CentralEntry& entry, RawSource&) {
  StopHelpers();
  begin_ = entry.dataOffset;
  size_ = entry.compressedSize;
  std::size_t chunk = std::max<std::size_t>(tuning_.chunkSize, 64);
  chunkCount_ = static_cast<std::size_t>(std::max<std::uint64_t>((size_ + chunk - 1) / chunk, 1));
  isal_.init(state_.get());
  state_->crc_flag = ISAL_DEFLATE;
  fed_ = 0;
  target_ = emitting_ = nullptr;
  emitted_ = 0;
  total_ = 0;
  done_ = failed_ = false;
  chunksUsed_ = 0;
  for (auto& slot : slots_) slot->state = Slot::State::kFree;
  stopping_ = false;
  claim_ = 1;
  barren_ = 0;
  next_ = 0;
  for (std::size_t i = 0; i < tuning_.helpers && chunkCount_ > 1; ++i) {
    try {
      helpers_.emplace_back([this] { Help(); });
    } catch (const std::system_error&) {
      break;  // No thread to be had: fewer helpers, or ISA-L alone, decode the entry all the same.
    }
  }
  Target(1);
  return true;
}

// Each helper claims the next chunk far enough ahead of the front that ISA-L will not have
// passed it before the chunk is ready, while a slot is free to hold it.
void ParallelInflateDecoder::Help() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    std::size_t ahead = tuning_.patient ? 0 : 1 + 2 * tuning_.helpers;
    std::size_t chunk = std::max(claim_, next_ + ahead);
    if (chunk >= chunkCount_ || barren_ >= kBarrenChunks) break;
    auto free = std::find_if(slots_.begin(), slots_.end(),
                             [](const auto& slot) { return slot->state == Slot::State::kFree; });
    if (free == slots_.end()) {
      changed_.wait(lock);
      continue;
    }
    Slot& slot = **free;
    claim_ = chunk + 1;
    slot.state = Slot::State::kClaimed;
    slot.abandoned = false;
    slot.chunk = chunk;
    lock.unlock();
    bool decoded = false;
    try {
      decoded = DecodeChunk(slot);
    } catch (...) {
      decoded = false;  // Out of memory: the chunk is left to ISA-L like any other.
    }
    lock.lock();
    barren_ = slot.found ? 0 : barren_ + 1;
    if (slot.abandoned) {
      slot.state = Slot::State::kFree;
    } else {
      slot.state = decoded ? Slot::State::kDone : Slot::State::kFailed;
    }
    changed_.notify_all();
  }
  // The front may be waiting for a chunk that no helper will claim now.
  changed_.notify_all();
}

// A chunk is searched for a block start within its own bytes; the decoding may run into the
// next chunk's bytes to finish its last block, up to one chunk further.
bool ParallelInflateDecoder::DecodeChunk(Slot& slot) {
  std::uint64_t from = slot.chunk * std::uint64_t{tuning_.chunkSize};
  std::uint64_t to = std::min<std::uint64_t>(size_, from + 2 * tuning_.chunkSize);
  slot.found = false;
  if (!ReadAt(begin_ + from, static_cast<std::size_t>(to - from), slot.input)) return false;
  bool last = slot.chunk + 1 == chunkCount_;
  std::uint64_t stop = last ? UINT64_MAX : tuning_.chunkSize * 8;
  // A start that passes the finder's tests and then fails to decode was a false one: the next
  // is tried, a few times at most, since each try may decode far before it fails.
  std::optional<BlockStart> start = FindBlockStart(slot.input, 0, tuning_.chunkSize * 8);
  for (int tries = 0; start && tries < kTriesPerChunk; ++tries) {
    slot.found = true;
    if (DecodeWithMarkers(slot.input, *start, stop, tuning_.maxSymbols, slot.marked)) {
      start->bit += from * 8;
      slot.start = *start;
      slot.marked.endBit += from * 8;
      return true;
    }
    start = FindBlockStart(slot.input, start->bit + 1, tuning_.chunkSize * 8);
  }
  return false;
}

// The helper's result for chunk, once decoded; nullptr when it has none. Only a patient front
// waits for a chunk being decoded; otherwise such a chunk is abandoned.
ParallelInflateDecoder::Slot* ParallelInflateDecoder::WaitFor(std::size_t chunk) {
  std::unique_lock lock(mutex_);
  for (;;) {
    auto found = std::find_if(slots_.begin(), slots_.end(), [&](const auto& slot) {
      return slot->state != Slot::State::kFree && !slot->abandoned && slot->chunk == chunk;
    });
    if (found != slots_.end() && (*found)->state == Slot::State::kDone) return found->get();
    if (found != slots_.end() && (*found)->state == Slot::State::kFailed) {
      (*found)->state = Slot::State::kFree;
      changed_.notify_all();
      return nullptr;
    }
    bool helpersLeft = !helpers_.empty() && barren_ < kBarrenChunks && claim_ <= chunk;
    bool coming = found != slots_.end() || (helpersLeft && chunk < chunkCount_);
    if (!tuning_.patient || !coming) {
      if (found != slots_.end()) (*found)->abandoned = true;
      return nullptr;
    }
    changed_.wait(lock);
  }
}

void ParallelInflateDecoder::Release(Slot* slot) {
  {
    std::lock_guard lock(mutex_);
    slot->state = Slot::State::kFree;
  }
  changed_.notify_all();
}

// Chunks the front has passed free their slots; those still being decoded free theirs when done.
void ParallelInflateDecoder::ReleaseBefore(std::size_t chunk) {
  {
    std::lock_guard lock(mutex_);
    next_ = chunk;
    for (auto& slot : slots_) {
      if (slot->state == Slot::State::kFree || slot->chunk >= chunk) continue;
      if (slot->state == Slot::State::kClaimed) {
        slot->abandoned = true;
      } else {
        slot->state = Slot::State::kFree;
      }
    }
  }
  changed_.notify_all();
}

// ISA-L is given the bytes up to where chunk's block start can be checked: the byte that holds
// its first bits, or the stored block's LEN. ISA-L stops there in a state that tells the bit
// where its last block ended. Without a guess it goes on to the chunk's end.
void ParallelInflateDecoder::Target(std::size_t chunk) {
  ReleaseBefore(chunk);
  target_ = nullptr;
  if (chunk >= chunkCount_) {
    limit_ = size_;
    return;
  }
  Slot* slot = WaitFor(chunk);
  if (slot != nullptr && slot->start.Earliest() >= fed_ * 8) {
    target_ = slot;
    limit_ = slot->start.stored ? slot->start.bit / 8 : (slot->start.bit + 7) / 8;
    return;
  }
  if (slot != nullptr) Release(slot);
  limit_ = std::min<std::uint64_t>(size_, (chunk + 1) * std::uint64_t{tuning_.chunkSize});
}

// ISA-L has decoded every byte up to the limit. Either it ended a block exactly where the
// targeted chunk begins, and the chunk is used, or it goes on towards the next chunk.
bool ParallelInflateDecoder::AtLimit() {
  if (limit_ >= size_) return false;  // The entry's bytes end within the stream.
  bool between = state_->block_state == ISAL_BLOCK_NEW_HDR || state_->block_state == ISAL_BLOCK_HDR;
  std::uint64_t at = fed_ * 8 - static_cast<std::uint64_t>(state_->read_in_length) -
                     static_cast<std::uint64_t>(state_->tmp_in_size) * 8;
  if (target_ != nullptr && between && target_->start.BeganAt(at)) {
    emitting_ = std::exchange(target_, nullptr);
    emitted_ = 0;
    return true;
  }
  if (target_ != nullptr) Release(std::exchange(target_, nullptr));
  Target(next_ + 1);
  return true;
}

bool ParallelInflateDecoder::RestartIsal(std::uint64_t bit) {
  isal_.init(state_.get());
  state_->crc_flag = ISAL_DEFLATE;
  std::size_t known = static_cast<std::size_t>(std::min<std::uint64_t>(total_, kDeflateWindow));
  for (std::size_t i = 0; i < known; ++i) {
    window_[i] = history_[(total_ - known + i) % kDeflateWindow];
  }
  if (known > 0 && isal_.setDictionary(state_.get(), window_.data(), known) != ISAL_DECOMP_OK) {
    return false;
  }
  fed_ = bit / 8;
  state_->avail_in = 0;
  if (bit % 8 != 0) {
    if (!ReadAt(begin_ + fed_, 1, input_)) return false;
    state_->read_in = input_[0] >> (bit % 8);
    state_->read_in_length = static_cast<std::int32_t>(8 - bit % 8);
    ++fed_;
  }
  return true;
}

std::size_t ParallelInflateDecoder::RunIsal(std::span<char> output) {
  if (state_->avail_in == 0 && fed_ < limit_) {
    auto count = static_cast<std::size_t>(std::min<std::uint64_t>(limit_ - fed_, kInputPiece));
    if (!ReadAt(begin_ + fed_, count, input_)) {
      failed_ = true;
      return 0;
    }
    state_->next_in = input_.data();
    state_->avail_in = static_cast<std::uint32_t>(count);
    fed_ += count;
  }
  state_->next_out = reinterpret_cast<std::uint8_t*>(output.data());
  state_->avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(output.size(), 1u << 30));
  int status = isal_.inflate(state_.get());
  std::size_t produced =
      static_cast<std::size_t>(reinterpret_cast<char*>(state_->next_out) - output.data());
  Remember(output.data(), produced);
  if (status < 0) failed_ = true;
  if (state_->block_state == ISAL_BLOCK_FINISH) done_ = true;
  return produced;
}

std::size_t ParallelInflateDecoder::Emit(std::span<char> output) {
  const MarkedChunk& marked = emitting_->marked;
  if (emitted_ == 0) {
    for (std::size_t i = 0; i < kDeflateWindow; ++i) {
      window_[i] = history_[(total_ + i) % kDeflateWindow];
    }
  }
  std::size_t known =
      static_cast<std::size_t>(std::min<std::uint64_t>(total_ - emitted_, kDeflateWindow));
  std::size_t count = std::min(output.size(), marked.size - emitted_);
  if (!ResolveMarkers({marked.symbols.data() + emitted_, count}, window_.data(), known,
                      output.data())) {
    failed_ = true;
    return 0;
  }
  Remember(output.data(), count);
  emitted_ += count;
  if (emitted_ == marked.size && !FinishChunk()) failed_ = true;
  return count;
}

// After a chunk, the next one is used at once when it begins where this one ended; otherwise
// ISA-L starts again there, with the output's last 32 KiB as its window.
bool ParallelInflateDecoder::FinishChunk() {
  ++chunksUsed_;
  Slot* used = std::exchange(emitting_, nullptr);
  bool final = used->marked.final;
  std::uint64_t end = used->marked.endBit;
  std::size_t chunk = used->chunk;
  Release(used);
  if (final) {
    done_ = true;
    return true;
  }
  ReleaseBefore(chunk + 1);
  if (chunk + 1 < chunkCount_) {
    Slot* following = WaitFor(chunk + 1);
    if (following != nullptr && following->start.BeganAt(end)) {
      emitting_ = following;
      emitted_ = 0;
      return true;
    }
    if (following != nullptr) Release(following);
  }
  if (!RestartIsal(end)) return false;
  std::uint64_t chunkBits = std::uint64_t{tuning_.chunkSize} * 8;
  Target(static_cast<std::size_t>((end + chunkBits - 1) / chunkBits));
  return true;
}

void ParallelInflateDecoder::Remember(const char* bytes, std::size_t count) {
  std::size_t keep = std::min(count, kDeflateWindow);
  const char* from = bytes + count - keep;
  for (std::size_t i = 0; i < keep;) {
    std::size_t at = static_cast<std::size_t>((total_ + count - keep + i) % kDeflateWindow);
    std::size_t run = std::min(keep - i, kDeflateWindow - at);
    std::memcpy(history_.data() + at, from + i, run);
    i += run;
  }
  total_ += count;
}

bool ParallelInflateDecoder::ReadAt(std::uint64_t offset, std::size_t count,
                                    std::vector<std::uint8_t>& into) const {
  into.resize(count);
  return ReadFullyAt(fd_, reinterpret_cast<char*>(into.data()), count, offset);
}

DecodeStep ParallelInflateDecoder::Decode(RawSource&, std::span<char> output) {
  std::size_t produced = 0;
  while (produced < output.size() && !failed_) {
    std::span<char> rest = output.subspan(produced);
    if (emitting_ != nullptr) {
      produced += Emit(rest);
      continue;
    }
    if (done_) break;
    produced += RunIsal(rest);
    bool drained = state_->avail_in == 0 && fed_ == limit_ && state_->avail_out > 0;
    if (!failed_ && !done_ && drained && !AtLimit()) failed_ = true;
  }
  // Chunks past the stream's end or a failure are of no use: the helpers stop at once.
  if (failed_ || (done_ && emitting_ == nullptr)) StopHelpers();
  if (failed_) return {produced, DecodeStep::kDamaged};
  if (done_ && emitting_ == nullptr) return {produced, DecodeStep::kEnd};
  return {produced, DecodeStep::kMore};
}

std::size_t ParallelInflateHelpers(std::uint64_t compressedSize, std::uint64_t uncompressedSize,
                                   std::size_t spareCores) {
  if (uncompressedSize < kLeastOutput || compressedSize < 4 * ParallelInflateTuning{}.chunkSize) {
    return 0;
  }
  // The thread that runs ISA-L and writes takes one spare core for the read-ahead (see
  // extraction_worker.cpp). On two cores the helper would then only take turns with ISA-L, whose
  // speed per core it does not reach: measured in bench/, it does not pay there.
  std::size_t helpers = spareCores > 0 ? spareCores - 1 : 0;
  return std::min<std::size_t>(helpers, ParallelInflateTuning{}.slots - 1);
}

}  // namespace zipdrop
