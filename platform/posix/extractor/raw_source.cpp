#include "platform/posix/extractor/raw_source.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/extractor/read_at.h"

namespace zipdrop {

namespace {

// Raw bytes are read in blocks this large: few enough preads for a fast disk, and small beside
// the output block the writer uses.
constexpr std::size_t kRawBlock = 256 * 1024;

}  // namespace

bool RawSource::Refill() {
  if (buffer_.size() < kRawBlock) buffer_.resize(kRawBlock);
  std::size_t kept = filled_ - begin_;
  std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
  begin_ = 0;
  filled_ = kept;
  std::uint64_t wanted = std::min<std::uint64_t>(buffer_.size() - filled_, end_ - next_);
  if (wanted == 0) return false;
  std::ptrdiff_t got = ReadSomeAt(fd_, reinterpret_cast<char*>(buffer_.data() + filled_),
                                  static_cast<std::size_t>(wanted), next_);
  if (got <= 0) {
    next_ = end_;  // A file that shrank or cannot be read ends the entry's bytes here.
    return false;
  }
  if (decryption_) {
    decryption_->Decrypt({buffer_.data() + filled_, static_cast<std::size_t>(got)});
  }
  filled_ += static_cast<std::size_t>(got);
  next_ += static_cast<std::uint64_t>(got);
  return true;
}

void RawSource::Drain() {
  do {
    Consume(Available().size());
  } while (Refill());
}

}  // namespace zipdrop
