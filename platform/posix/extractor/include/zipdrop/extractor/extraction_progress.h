// How far an extraction has come, and the user's request to stop it: written by the workers,
// read by whatever shows the progress.
#pragma once

#include <atomic>
#include <cstdint>

namespace zipdrop {

class ExtractionProgress {
 public:
  /// The uncompressed size the archive declares for all its entries together.
  void SetDeclaredTotal(std::uint64_t bytes) { declaredTotal_.store(bytes); }
  std::uint64_t DeclaredTotal() const { return declaredTotal_.load(); }

  /// Counts bytes of file data as they are written.
  void AddWritten(std::uint64_t bytes) { written_.fetch_add(bytes, std::memory_order_relaxed); }
  std::uint64_t Written() const { return written_.load(std::memory_order_relaxed); }

  /// Asks the workers to stop before their next entry, and a large entry being streamed before
  /// its next block, which then leaves no file. What was finished stays. The user's Cancel asks
  /// it, and so does an interrupt, after which the caller ends the process by the signal.
  void Cancel() { cancelled_.store(true); }
  bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> declaredTotal_{0};
  std::atomic<std::uint64_t> written_{0};
  std::atomic<bool> cancelled_{false};
};

}  // namespace zipdrop
