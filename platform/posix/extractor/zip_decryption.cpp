#include "platform/posix/extractor/zip_decryption.h"

#include <nettle/aes.h>
#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <nettle/memxor.h>
#include <nettle/nettle-meta.h>
#include <nettle/pbkdf2.h>
#include <string.h>

#include <array>
#include <vector>

#include "platform/posix/extractor/extra_fields.h"

namespace zipdrop {

namespace {

constexpr std::size_t kZipCryptoHeader = 12;
constexpr std::size_t kAesVerifier = 2;
constexpr std::size_t kAesAuthentication = 10;
constexpr unsigned kAesIterations = 1000;

std::uint16_t Read16(std::span<const unsigned char> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// The traditional PKWARE cipher: three 32-bit keys stirred by every plaintext byte. It is small,
// public, and in no library we can take from Debian, so it is written here.
class ZipCryptoDecryption : public EntryDecryption {
 public:
  explicit ZipCryptoDecryption(std::string_view password) {
    for (char c : password) Update(static_cast<unsigned char>(c));
  }
  ~ZipCryptoDecryption() override { explicit_bzero(keys_.data(), sizeof keys_); }

  void Decrypt(std::span<unsigned char> bytes) override {
    for (unsigned char& byte : bytes) {
      std::uint32_t temp = (keys_[2] & 0xFFFF) | 2;
      byte ^= static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
      Update(byte);
    }
  }
  bool Authenticates(std::span<const unsigned char>) override { return true; }

 private:
  static std::uint32_t Crc32Byte(std::uint32_t crc, unsigned char byte) {
    static const std::array<std::uint32_t, 256> table = [] {
      std::array<std::uint32_t, 256> t{};
      for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
      }
      return t;
    }();
    return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  }
  void Update(unsigned char plain) {
    keys_[0] = Crc32Byte(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = Crc32Byte(keys_[2], static_cast<unsigned char>(keys_[1] >> 24));
  }

  std::array<std::uint32_t, 3> keys_ = {0x12345678u, 0x23456789u, 0x34567890u};
};

const nettle_cipher& AesCipher(std::size_t keyLength) {
  if (keyLength == 16) return nettle_aes128;
  if (keyLength == 24) return nettle_aes192;
  return nettle_aes256;
}

// WinZip AES: AES in counter mode with a little-endian counter from 1 (not the big-endian one of
// the usual CTR mode, so the counter blocks are made here and encrypted many at a time), and
// HMAC-SHA1 over the encrypted bytes, keyed and checked as the format specifies.
class AesDecryption : public EntryDecryption {
 public:
  AesDecryption(const nettle_cipher& cipher, std::span<const unsigned char> aesKey,
                std::span<const unsigned char> macKey)
      : cipher_(cipher), context_(cipher.context_size) {
    cipher_.set_encrypt_key(context_.data(), aesKey.data());
    hmac_sha1_set_key(&mac_, macKey.size(), macKey.data());
  }
  ~AesDecryption() override {
    explicit_bzero(context_.data(), context_.size());
    explicit_bzero(&mac_, sizeof mac_);
    explicit_bzero(stream_.data(), stream_.size());
  }

  void Decrypt(std::span<unsigned char> bytes) override {
    hmac_sha1_update(&mac_, bytes.size(), bytes.data());
    for (std::size_t done = 0; done < bytes.size();) {
      if (used_ == stream_.size()) Refill();
      std::size_t count = std::min(bytes.size() - done, stream_.size() - used_);
      memxor(bytes.data() + done, stream_.data() + used_, count);
      done += count;
      used_ += count;
    }
  }

  bool Authenticates(std::span<const unsigned char> trailer) override {
    if (trailer.size() != kAesAuthentication) return false;
    std::array<unsigned char, kAesAuthentication> code;
    hmac_sha1_digest(&mac_, code.size(), code.data());
    return memeql_sec(code.data(), trailer.data(), code.size()) != 0;
  }

 private:
  static constexpr std::size_t kBlock = 16;
  static constexpr std::size_t kBlocksAtOnce = 256;

  void Refill() {
    for (std::size_t b = 0; b < kBlocksAtOnce; ++b) {
      ++counter_;
      unsigned char* block = stream_.data() + b * kBlock;
      std::uint64_t value = counter_;
      for (std::size_t i = 0; i < 8; ++i, value >>= 8) block[i] = static_cast<unsigned char>(value);
      std::fill(block + 8, block + kBlock, 0);
    }
    cipher_.encrypt(context_.data(), stream_.size(), stream_.data(), stream_.data());
    used_ = 0;
  }

  const nettle_cipher& cipher_;
  std::vector<unsigned char> context_;
  hmac_sha1_ctx mac_;
  std::array<unsigned char, kBlock * kBlocksAtOnce> stream_{};
  std::size_t used_ = kBlock * kBlocksAtOnce;
  std::uint64_t counter_ = 0;
};

std::unique_ptr<EntryDecryption> StartAes(const AesField& aes, std::string_view password,
                                          std::span<const unsigned char> header) {
  std::size_t saltLength = aes.keyLength / 2;  // 8, 12 or 16 bytes.
  std::vector<unsigned char> keys(2 * aes.keyLength + kAesVerifier);
  pbkdf2_hmac_sha1(password.size(), reinterpret_cast<const std::uint8_t*>(password.data()),
                   kAesIterations, saltLength, header.data(), keys.size(), keys.data());
  std::unique_ptr<EntryDecryption> decryption;
  if (memeql_sec(keys.data() + 2 * aes.keyLength, header.data() + saltLength, kAesVerifier)) {
    std::span<const unsigned char> all(keys);
    decryption =
        std::make_unique<AesDecryption>(AesCipher(aes.keyLength), all.subspan(0, aes.keyLength),
                                        all.subspan(aes.keyLength, aes.keyLength));
  }
  explicit_bzero(keys.data(), keys.size());
  return decryption;
}

}  // namespace

std::optional<AesField> FindAesField(std::span<const unsigned char> extra) {
  std::optional<std::string_view> found = ExtraFieldReader::Find(
      std::string_view(reinterpret_cast<const char*>(extra.data()), extra.size()), kExtraAes);
  if (!found || found->size() < 7) return std::nullopt;
  std::span<const unsigned char> field(reinterpret_cast<const unsigned char*>(found->data()),
                                       found->size());
  if (field[2] != 'A' || field[3] != 'E') return std::nullopt;
  int version = Read16(field, 0);
  int strength = field[4];
  if ((version != 1 && version != 2) || strength < 1 || strength > 3) return std::nullopt;
  return AesField{version, static_cast<std::size_t>(8 + 8 * strength), Read16(field, 5)};
}

std::size_t EncryptionScheme::HeaderSize() const {
  return aes ? aes->keyLength / 2 + kAesVerifier : kZipCryptoHeader;
}

std::size_t EncryptionScheme::TrailerSize() const { return aes ? kAesAuthentication : 0; }

std::unique_ptr<EntryDecryption> StartDecryption(const EncryptionScheme& scheme,
                                                 std::string_view password,
                                                 std::span<const unsigned char> header) {
  if (header.size() != scheme.HeaderSize()) return nullptr;
  if (scheme.aes) return StartAes(*scheme.aes, password, header);
  auto decryption = std::make_unique<ZipCryptoDecryption>(password);
  std::array<unsigned char, kZipCryptoHeader> decrypted;
  std::copy(header.begin(), header.end(), decrypted.begin());
  decryption->Decrypt(decrypted);
  if (decrypted.back() != scheme.checkByte && decrypted.back() != scheme.otherCheckByte) {
    return nullptr;
  }
  return decryption;
}

}  // namespace zipdrop
