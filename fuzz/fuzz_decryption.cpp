// Fuzzes the decryption of encrypted entries: any scheme, password, header, content and trailer.
// Nothing may crash or read outside the bytes given; a header that passes the password check
// must decrypt whatever follows and then judge the trailer, and decrypting in pieces must give
// the same bytes as decrypting at once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "platform/posix/extractor/zip_decryption.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace zipdrop;
  if (size < 4) return 0;
  // The first byte picks the scheme, the second is ZipCrypto's check byte, the third the
  // password's length.
  EncryptionScheme scheme;
  int choice = data[0] % 4;
  if (choice > 0) scheme.aes = AesField{1 + (data[0] >> 7), std::size_t{8} + 8 * choice, 8};
  scheme.checkByte = data[1];
  std::size_t passwordLength = std::min<std::size_t>(data[2], size - 3);
  std::string_view password(reinterpret_cast<const char*>(data + 3), passwordLength);
  std::span<const std::uint8_t> rest(data + 3 + passwordLength, size - 3 - passwordLength);
  if (rest.size() < scheme.HeaderSize() + scheme.TrailerSize()) return 0;
  std::span<const std::uint8_t> header = rest.first(scheme.HeaderSize());
  std::span<const std::uint8_t> trailer = rest.last(scheme.TrailerSize());
  std::vector<std::uint8_t> content(rest.begin() + header.size(), rest.end() - trailer.size());

  auto whole = StartDecryption(scheme, password, header);
  auto pieces = StartDecryption(scheme, password, header);
  if (!whole != !pieces) std::abort();  // The check must not depend on anything but its input.
  if (!whole) return 0;
  std::vector<std::uint8_t> inPieces = content;
  whole->Decrypt(content);
  for (std::size_t at = 0; at < inPieces.size(); at += 7) {
    pieces->Decrypt(std::span(inPieces).subspan(at, std::min<std::size_t>(7, inPieces.size() - at)));
  }
  if (content != inPieces) std::abort();
  if (whole->Authenticates(trailer) != pieces->Authenticates(trailer)) std::abort();
  return 0;
}
