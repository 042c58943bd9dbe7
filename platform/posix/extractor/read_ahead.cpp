#include "platform/posix/extractor/read_ahead.h"

#include <algorithm>
#include <cstring>

namespace zipdrop {

ReadAhead::ReadAhead(EntryData& source, std::size_t blockSize) : source_(source) {
  for (Block& block : blocks_) block.bytes.resize(blockSize);
  thread_ = std::thread([this] { Produce(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

// Fills the blocks in turn until the source ends or fails, or the writer goes away.
void ReadAhead::Produce() {
  for (std::size_t index = 0;; index = (index + 1) % blocks_.size()) {
    Block& block = blocks_[index];
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !block.full; });
      if (stopping_) return;
    }
    std::ptrdiff_t count = -1;
    try {
      count = source_.Read(block.bytes.data(), block.bytes.size());
    } catch (...) {
      count = -1;  // Out of memory in a decoder: the entry is unreadable like any other.
    }
    {
      std::lock_guard lock(mutex_);
      block.count = count;
      block.taken = 0;
      block.full = true;
    }
    changed_.notify_all();
    if (count <= 0) return;
  }
}

std::ptrdiff_t ReadAhead::Read(char* buffer, std::size_t size) {
  Block& block = blocks_[next_];
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return block.full; });
  }
  if (block.count <= 0) return block.count;  // The end or a failure, told again if asked again.
  std::size_t count = std::min(size, static_cast<std::size_t>(block.count) - block.taken);
  std::memcpy(buffer, block.bytes.data() + block.taken, count);
  block.taken += count;
  if (block.taken == static_cast<std::size_t>(block.count)) {
    {
      std::lock_guard lock(mutex_);
      block.full = false;
    }
    changed_.notify_all();
    next_ = (next_ + 1) % blocks_.size();
  }
  return static_cast<std::ptrdiff_t>(count);
}

}  // namespace zipdrop
