// Decoding one block ahead of the writer, on a thread of its own.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/extractor/entry_writer.h"

namespace zipdrop {

/// An entry's data decoded on a second thread while the writer writes the block before. One
/// large entry is otherwise a single core's work, taking turns between the decoder and the
/// kernel's copying of the written bytes into the page cache, which cost about the same; when a
/// core is idle, the two overlap. The source is read only from the second thread.
class ReadAhead final : public EntryData {
 public:
  ReadAhead(EntryData& source, std::size_t blockSize);
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  /// Stops the second thread, even in the middle of the data, and waits for it.
  ~ReadAhead() override;

  std::ptrdiff_t Read(char* buffer, std::size_t size) override;

 private:
  struct Block {
    std::vector<char> bytes;
    std::ptrdiff_t count = 0;  // What the source's Read returned into it.
    std::size_t taken = 0;     // How much of it the writer has taken.
    bool full = false;
  };

  void Produce();

  EntryData& source_;
  std::array<Block, 2> blocks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::size_t next_ = 0;  // The block the writer takes from next.
  std::thread thread_;    // Last: it starts once everything above is ready.
};

}  // namespace zipdrop
