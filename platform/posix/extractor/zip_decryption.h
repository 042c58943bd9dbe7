// The two kinds of ZIP encryption that archives in the wild use: the traditional PKWARE scheme
// ("ZipCrypto", which Windows Explorer reads and writes) and WinZip's AES (AE-1 and AE-2).
// Decryption sits between an entry's bytes in the archive and the decoder of its method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace zipdrop {

/// What the 0x9901 extra field of a WinZip AES entry (method 99) says.
struct AesField {
  int vendorVersion = 0;           // 1 (AE-1, the CRC is kept) or 2 (AE-2, no CRC).
  std::size_t keyLength = 0;       // 16, 24 or 32 bytes: AES-128, -192 or -256.
  std::uint16_t actualMethod = 0;  // The method of the data once decrypted.
};

/// Finds and reads the AES field among an entry's extra fields; nothing when there is none or it
/// is malformed.
std::optional<AesField> FindAesField(std::span<const unsigned char> extraFields);

/// How an encrypted entry's data is laid out and checked.
struct EncryptionScheme {
  std::optional<AesField> aes;  // Unset for ZipCrypto.
  /// ZipCrypto only: the byte that the last byte of the decrypted header must equal, the CRC's
  /// high byte, or the high byte of the DOS time when the entry has a data descriptor.
  std::uint8_t checkByte = 0;
  std::optional<std::uint8_t> otherCheckByte;  // Also taken, where writers differ.

  /// The bytes before the encrypted content (ZipCrypto's header; AES's salt and verifier).
  std::size_t HeaderSize() const;
  /// The bytes after it (AES's authentication code).
  std::size_t TrailerSize() const;
};

/// Decrypts one entry's content in place as it passes through, and checks it at the end.
class EntryDecryption {
 public:
  virtual ~EntryDecryption() = default;
  virtual void Decrypt(std::span<unsigned char> bytes) = 0;
  /// After the whole content passed: whether the trailer authenticates it (always true for
  /// ZipCrypto, which has no such check; its CRC is all there is).
  virtual bool Authenticates(std::span<const unsigned char> trailer) = 0;
};

/// Starts the decryption of an entry whose data begins with header (HeaderSize bytes), or gives
/// nothing when the password is wrong as far as the header can tell: ZipCrypto's check byte
/// passes one wrong password in 256, AES's verifier one in 65,536; the CRC or the authentication
/// code catches the rest.
std::unique_ptr<EntryDecryption> StartDecryption(const EncryptionScheme& scheme,
                                                 std::string_view password,
                                                 std::span<const unsigned char> header);

}  // namespace zipdrop
