// A streaming decoder of DEFLATE and of Deflate64, the variant Windows Explorer writes for large
// archives. Hand-written because no packaged library decodes Deflate64 (zlib's contrib/infback9
// is unmaintained and not packaged); Deflate64 is DEFLATE with a 64 KiB window, length code 285
// carrying 16 extra bits, and distance codes 30 and 31. Plain DEFLATE goes to ISA-L or zlib, which
// are faster; the DEFLATE mode is kept so the fuzzer can hold this decoder against zlib.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zipdrop {

class Inflater {
 public:
  enum class Variant { kDeflate, kDeflate64 };
  enum class Status { kMore, kNeedInput, kEnd, kDamaged };
  struct Result {
    std::size_t consumed = 0;
    std::size_t produced = 0;
    Status status = Status::kMore;
  };

  explicit Inflater(Variant variant);

  /// Starts a new stream.
  void Reset();

  /// Decodes from input into output; last says that no input follows this. Input left
  /// unconsumed must be given again, with more after it, on the next call.
  Result Inflate(std::span<const std::uint8_t> input, bool last, std::span<char> output);

 private:
  // A canonical Huffman code as one lookup table indexed by the next `bits` bits of the stream;
  // each entry holds symbol << 4 | code length, 0 where no code matches.
  struct Code {
    std::vector<std::uint16_t> table;
    unsigned bits = 0;
    bool Build(const std::uint8_t* lengths, unsigned count);
  };
  enum class Phase { kBlockHeader, kStored, kCodes, kDone };
  enum class Got { kYes, kNeedInput, kBad };

  bool Fill(unsigned count);
  std::uint32_t Take(unsigned count);
  Got Symbol(const Code& code, unsigned& symbol);
  Got BlockHeader();
  Got DynamicCodes();
  Got NextSymbol();
  void Emit(std::uint8_t byte);
  void CopyStored();
  void CopyMatch();

  Variant variant_;
  Phase phase_ = Phase::kBlockHeader;
  bool final_ = false;
  std::uint64_t bits_ = 0;
  unsigned bitCount_ = 0;
  std::uint64_t storedLeft_ = 0;
  std::uint32_t matchLength_ = 0;
  std::uint32_t matchDistance_ = 0;
  std::uint64_t total_ = 0;  // Bytes produced, to refuse distances reaching before the start.
  std::vector<std::uint8_t> window_;
  Code literals_;
  Code distances_;
  // The input and output of the call in progress.
  const std::uint8_t* in_ = nullptr;
  const std::uint8_t* inEnd_ = nullptr;
  bool last_ = false;
  char* out_ = nullptr;
  char* outEnd_ = nullptr;
};

}  // namespace zipdrop
