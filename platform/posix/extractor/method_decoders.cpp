// Stored, DEFLATE (ISA-L's streaming inflate, the fastest packaged, or zlib's where the system
// has no ISA-L), bzip2, LZMA, xz and zstd.
#include "platform/posix/extractor/method_decoders.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/posix/extractor/inflater.h"
#include "platform/posix/extractor/isal_library.h"
#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

namespace {

// No entry may make a decoder allocate more than this for its dictionary or window: LZMA and
// zstd streams declare their own, and an archive could claim gigabytes per worker.
constexpr std::uint64_t kDecoderMemoryLimit = 128 << 20;

// The part of a span a 32-bit length field can describe.
unsigned int Clamp32(std::size_t size) {
  return static_cast<unsigned int>(std::min<std::size_t>(size, UINT_MAX));
}

DecodeStep Step(std::size_t produced, std::size_t consumed, bool ended) {
  if (ended) return {produced, DecodeStep::kEnd};
  if (produced == 0 && consumed == 0) return {0, DecodeStep::kNeedInput};
  return {produced, DecodeStep::kMore};
}

class StoredDecoder final : public MethodDecoder {
 public:
  bool Begin(const CentralEntry& entry, RawSource&) override {
    remaining_ = entry.uncompressedSize;
    return true;
  }
  DecodeStep Decode(RawSource& source, std::span<char> output) override {
    if (remaining_ == 0) return {0, DecodeStep::kEnd};
    std::span<const unsigned char> input = source.Available();
    std::size_t count = std::min<std::uint64_t>({input.size(), output.size(), remaining_});
    if (count == 0) return {0, DecodeStep::kNeedInput};
    std::memcpy(output.data(), input.data(), count);
    source.Consume(count);
    remaining_ -= count;
    return Step(count, count, remaining_ == 0);
  }

 private:
  std::uint64_t remaining_ = 0;
};

class IsalInflateDecoder final : public MethodDecoder {
 public:
  explicit IsalInflateDecoder(const IsalInflate& isal)
      : isal_(isal), state_(std::make_unique<inflate_state>()) {}
  bool Begin(const CentralEntry&, RawSource&) override {
    isal_.init(state_.get());
    state_->crc_flag = ISAL_DEFLATE;
    return true;
  }
  DecodeStep Decode(RawSource& source, std::span<char> output) override {
    std::span<const unsigned char> input = source.Available();
    state_->next_in = const_cast<std::uint8_t*>(input.data());
    state_->avail_in = Clamp32(input.size());
    state_->next_out = reinterpret_cast<std::uint8_t*>(output.data());
    state_->avail_out = Clamp32(output.size());
    int status = isal_.inflate(state_.get());
    std::size_t consumed = Clamp32(input.size()) - state_->avail_in;
    std::size_t produced = Clamp32(output.size()) - state_->avail_out;
    source.Consume(consumed);
    if (status < 0) return {produced, DecodeStep::kDamaged};
    return Step(produced, consumed, state_->block_state == ISAL_BLOCK_FINISH);
  }

 private:
  const IsalInflate& isal_;
  std::unique_ptr<inflate_state> state_;  // About 90 KiB: too large for the stack.
};

class ZlibInflateDecoder final : public MethodDecoder {
 public:
  ~ZlibInflateDecoder() override {
    if (open_) inflateEnd(&stream_);
  }
  bool Begin(const CentralEntry&, RawSource&) override {
    // Negative window bits: the raw DEFLATE stream of a ZIP entry, without zlib's header.
    if (!open_) open_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    return open_ && inflateReset(&stream_) == Z_OK;
  }
  DecodeStep Decode(RawSource& source, std::span<char> output) override {
    std::span<const unsigned char> input = source.Available();
    stream_.next_in = const_cast<Bytef*>(input.data());
    stream_.avail_in = Clamp32(input.size());
    stream_.next_out = reinterpret_cast<Bytef*>(output.data());
    stream_.avail_out = Clamp32(output.size());
    int status = inflate(&stream_, Z_NO_FLUSH);
    std::size_t consumed = Clamp32(input.size()) - stream_.avail_in;
    std::size_t produced = Clamp32(output.size()) - stream_.avail_out;
    source.Consume(consumed);
    // Z_BUF_ERROR only says that no progress was possible: more input is needed.
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      return {produced, DecodeStep::kDamaged};
    }
    return Step(produced, consumed, status == Z_STREAM_END);
  }

 private:
  z_stream stream_{};
  bool open_ = false;
};

std::unique_ptr<MethodDecoder> MakeInflateDecoder() {
  const IsalInflate* isal = LoadIsalInflate();
  if (isal != nullptr) return std::make_unique<IsalInflateDecoder>(*isal);
  return std::make_unique<ZlibInflateDecoder>();
}

class Bzip2Decoder final : public MethodDecoder {
 public:
  ~Bzip2Decoder() override { End(); }
  bool Begin(const CentralEntry&, RawSource&) override {
    End();
    stream_ = bz_stream{};
    open_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
    return open_;
  }
  DecodeStep Decode(RawSource& source, std::span<char> output) override {
    std::span<const unsigned char> input = source.Available();
    stream_.next_in = const_cast<char*>(reinterpret_cast<const char*>(input.data()));
    stream_.avail_in = Clamp32(input.size());
    stream_.next_out = output.data();
    stream_.avail_out = Clamp32(output.size());
    int status = BZ2_bzDecompress(&stream_);
    std::size_t consumed = Clamp32(input.size()) - stream_.avail_in;
    std::size_t produced = Clamp32(output.size()) - stream_.avail_out;
    source.Consume(consumed);
    if (status != BZ_OK && status != BZ_STREAM_END) return {produced, DecodeStep::kDamaged};
    return Step(produced, consumed, status == BZ_STREAM_END);
  }

 private:
  void End() {
    if (open_) BZ2_bzDecompressEnd(&stream_);
    open_ = false;
  }
  bz_stream stream_{};
  bool open_ = false;
};

// liblzma's stream, for both LZMA (in ZIP's own framing) and xz.
class LzmaStreamDecoder : public MethodDecoder {
 public:
  ~LzmaStreamDecoder() override { lzma_end(&stream_); }

 protected:
  DecodeStep Run(RawSource& source, std::span<char> output) {
    std::span<const unsigned char> input = source.Available();
    stream_.next_in = input.data();
    stream_.avail_in = input.size();
    stream_.next_out = reinterpret_cast<std::uint8_t*>(output.data());
    stream_.avail_out = output.size();
    lzma_ret status = lzma_code(&stream_, LZMA_RUN);
    std::size_t consumed = input.size() - stream_.avail_in;
    std::size_t produced = output.size() - stream_.avail_out;
    source.Consume(consumed);
    if (status != LZMA_OK && status != LZMA_STREAM_END && status != LZMA_BUF_ERROR) {
      return {produced, DecodeStep::kDamaged};
    }
    return Step(produced, consumed, status == LZMA_STREAM_END);
  }
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

class XzDecoder final : public LzmaStreamDecoder {
 public:
  bool Begin(const CentralEntry&, RawSource&) override {
    return lzma_stream_decoder(&stream_, kDecoderMemoryLimit, 0) == LZMA_OK;
  }
  DecodeStep Decode(RawSource& source, std::span<char> output) override {
    return Run(source, output);
  }
};

// ZIP's LZMA entries start with a version (2 bytes), the properties' length (2) and the 5 bytes of
// properties; the raw LZMA stream follows. liblzma's decoder of the older .lzma form takes the
// same properties followed by the uncompressed size, so that header is made up and fed first.
class LzmaDecoder final : public LzmaStreamDecoder {
 public:
  bool Begin(const CentralEntry& entry, RawSource&) override {
    header_.clear();
    aloneLeft_ = 0;
    // With the end-of-stream flag the stream marks its own end; otherwise it stops at the size.
    size_ = (entry.flags & kFlagLzmaEndMarker) != 0 ? UINT64_MAX : entry.uncompressedSize;
    return lzma_alone_decoder(&stream_, kDecoderMemoryLimit) == LZMA_OK;
  }
  DecodeStep Decode(RawSource& source, std::span<char> output) override {
    if (header_.size() < kZipHeader) return ReadHeader(source);
    if (aloneLeft_ > 0) return FeedAloneHeader(output);
    return Run(source, output);
  }

 private:
  static constexpr std::size_t kZipHeader = 9;

  DecodeStep ReadHeader(RawSource& source) {
    std::span<const unsigned char> input = source.Available();
    std::size_t count = std::min(input.size(), kZipHeader - header_.size());
    header_.insert(header_.end(), input.begin(), input.begin() + count);
    source.Consume(count);
    if (header_.size() < kZipHeader) return {0, DecodeStep::kNeedInput};
    if (header_[2] != 5 || header_[3] != 0) return {0, DecodeStep::kDamaged};
    std::memcpy(alone_, header_.data() + 4, 5);
    for (int i = 0; i < 8; ++i) alone_[5 + i] = static_cast<std::uint8_t>(size_ >> (8 * i));
    aloneLeft_ = sizeof alone_;
    return {0, DecodeStep::kMore};
  }

  // liblzma reads nothing while it has no room for output, so the made-up header goes in with
  // the first output buffer.
  DecodeStep FeedAloneHeader(std::span<char> output) {
    stream_.next_in = alone_ + sizeof alone_ - aloneLeft_;
    stream_.avail_in = aloneLeft_;
    stream_.next_out = reinterpret_cast<std::uint8_t*>(output.data());
    stream_.avail_out = output.size();
    lzma_ret status = lzma_code(&stream_, LZMA_RUN);
    aloneLeft_ = stream_.avail_in;
    std::size_t produced = output.size() - stream_.avail_out;
    if (status == LZMA_STREAM_END) return {produced, DecodeStep::kEnd};
    if (status != LZMA_OK) return {produced, DecodeStep::kDamaged};
    return {produced, DecodeStep::kMore};
  }

  std::vector<std::uint8_t> header_;
  std::uint64_t size_ = 0;
  std::uint8_t alone_[13] = {};
  std::size_t aloneLeft_ = 0;
};

class ZstdDecoder final : public MethodDecoder {
 public:
  bool Begin(const CentralEntry&, RawSource&) override {
    if (!context_) return false;
    ZSTD_DCtx_reset(context_.get(), ZSTD_reset_session_only);
    return !ZSTD_isError(ZSTD_DCtx_setParameter(context_.get(), ZSTD_d_windowLogMax, 27));
  }
  DecodeStep Decode(RawSource& source, std::span<char> output) override {
    std::span<const unsigned char> input = source.Available();
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    ZSTD_outBuffer out{output.data(), output.size(), 0};
    std::size_t status = ZSTD_decompressStream(context_.get(), &out, &in);
    source.Consume(in.pos);
    if (ZSTD_isError(status)) return {out.pos, DecodeStep::kDamaged};
    return Step(out.pos, in.pos, status == 0);
  }

 private:
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context_{ZSTD_createDCtx(), ZSTD_freeDCtx};
};

class Deflate64Decoder final : public MethodDecoder {
 public:
  bool Begin(const CentralEntry&, RawSource&) override {
    inflater_.Reset();
    return true;
  }
  DecodeStep Decode(RawSource& source, std::span<char> output) override {
    Inflater::Result result = inflater_.Inflate(source.Available(), source.Exhausted(), output);
    source.Consume(result.consumed);
    switch (result.status) {
      case Inflater::Status::kEnd:
        return {result.produced, DecodeStep::kEnd};
      case Inflater::Status::kDamaged:
        return {result.produced, DecodeStep::kDamaged};
      case Inflater::Status::kNeedInput:
        return {result.produced, DecodeStep::kNeedInput};
      case Inflater::Status::kMore:
        break;
    }
    return {result.produced, DecodeStep::kMore};
  }

 private:
  Inflater inflater_{Inflater::Variant::kDeflate64};
};

}  // namespace

std::unique_ptr<MethodDecoder> MakeDeflate64Decoder() {
  return std::make_unique<Deflate64Decoder>();
}

std::unique_ptr<MethodDecoder> MakeMethodDecoder(std::uint16_t method) {
  switch (method) {
    case kMethodStored:
      return std::make_unique<StoredDecoder>();
    case kMethodDeflate:
      return MakeInflateDecoder();
    case kMethodDeflate64:
      return MakeDeflate64Decoder();
    case kMethodBzip2:
      return std::make_unique<Bzip2Decoder>();
    case kMethodLzma:
      return std::make_unique<LzmaDecoder>();
    case kMethodXz:
      return std::make_unique<XzDecoder>();
    case kMethodZstd:
      return std::make_unique<ZstdDecoder>();
    case kMethodPpmd:
      return MakeLibarchiveDecoder();
    default:
      return nullptr;
  }
}

}  // namespace zipdrop
