#include "platform/posix/extractor/passwords.h"

#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/read_at.h"
#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

namespace {

constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
constexpr int kMostAttempts = 3;
// ZipCrypto's check byte lets one wrong password in 256 through. For an entry this small, a
// password that passes is tried on the whole entry, so that a wrong one is told at once (and
// asked again) rather than found out by the CRC when it is too late to ask.
constexpr std::uint64_t kTrialLimit = 4 * 1024 * 1024;

// Whether the entry decrypts and decodes to its declared size and CRC with the decryption.
bool DecodesWhole(int fd, const EncryptedEntry& entry, EntryDecryption& decryption) {
  DecoderSet decoders;
  MethodDecoder* decoder = decoders.For(entry.content.method);
  if (decoder == nullptr) return true;  // Nothing to learn here; extracting it will fail anyway.
  std::vector<unsigned char> input;
  std::vector<char> output(64 * 1024);
  EntryStream stream(fd, entry.content, *decoder, input);
  stream.Decrypt(decryption, {}, entry.crcKnown);
  for (;;) {
    std::ptrdiff_t count = stream.Read(output.data(), output.size());
    if (count <= 0) return count == 0;
  }
}

}  // namespace

std::optional<EncryptedEntry> ReadEncryptedEntry(int fd, const CentralEntry& entry) {
  if ((entry.flags & kFlagStrongEncryption) != 0) return std::nullopt;
  EncryptedEntry encrypted;
  encrypted.content = entry;
  encrypted.content.flags &= static_cast<std::uint16_t>(~1u);
  if (entry.method == kMethodAes) {
    std::optional<LocalHeader> local = ReadLocalHeader(fd, entry.localHeaderOffset, true);
    if (!local) return std::nullopt;
    encrypted.scheme.aes = FindAesField(
        {reinterpret_cast<const unsigned char*>(local->extra.data()), local->extra.size()});
    if (!encrypted.scheme.aes) return std::nullopt;
    encrypted.content.method = encrypted.scheme.aes->actualMethod;
    encrypted.crcKnown = encrypted.scheme.aes->vendorVersion == 1;
  } else {
    // The check byte is the CRC's high byte; with a data descriptor the CRC was not known when
    // the header was written, and the high byte of the DOS time takes its place.
    bool descriptor = (entry.flags & kFlagDataDescriptor) != 0;
    // Some writers use the CRC's byte all the same, so with a descriptor either is taken.
    encrypted.scheme.checkByte = static_cast<std::uint8_t>(entry.crc >> 24);
    if (descriptor && !entry.unixTime) {
      encrypted.scheme.otherCheckByte = static_cast<std::uint8_t>((entry.modified >> 8) & 0xFF);
    }
  }
  std::size_t head = encrypted.scheme.HeaderSize(), tail = encrypted.scheme.TrailerSize();
  if (entry.compressedSize < head + tail) return std::nullopt;
  encrypted.header.resize(head);
  if (!ReadFullyAt(fd, reinterpret_cast<char*>(encrypted.header.data()), head, entry.dataOffset)) {
    return std::nullopt;
  }
  encrypted.content.dataOffset = entry.dataOffset + head;
  encrypted.content.compressedSize = entry.compressedSize - head - tail;
  encrypted.trailerOffset = encrypted.content.dataOffset + encrypted.content.compressedSize;
  return encrypted;
}

// The progress line on a terminal is held back while the user answers there.
std::optional<Secret> PasswordKeeper::Ask(PasswordRequest request, const std::string& name) {
  if (source_ == nullptr) return std::nullopt;
  if (progress_) progress_->SetAsking(true);
  std::optional<Secret> answer = source_->Ask(request, name);
  if (progress_) progress_->SetAsking(false);
  return answer;
}

std::unique_ptr<EntryDecryption> PasswordKeeper::Start(const EncryptedEntry& entry,
                                                       const Secret& password) {
  auto decryption = StartDecryption(entry.scheme, password.View(), entry.header);
  bool small = entry.content.uncompressedSize <= kTrialLimit;
  if (!decryption || entry.scheme.aes || !small) return decryption;
  auto trial = StartDecryption(entry.scheme, password.View(), entry.header);
  if (!DecodesWhole(archiveFd_, entry, *trial)) return nullptr;
  return decryption;
}

void PasswordKeeper::AskFirst(const EncryptedEntry& first, const std::string& name) {
  std::lock_guard lock(mutex_);
  PasswordRequest request = PasswordRequest::kFirst;
  for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
    std::optional<Secret> password = Ask(request, name);
    if (!password) break;
    if (Start(first, *password)) {
      known_.push_back(std::move(*password));
      return;
    }
    request = PasswordRequest::kWrong;
  }
  gaveUp_ = true;
}

std::unique_ptr<EntryDecryption> PasswordKeeper::TryKnown(const EncryptedEntry& entry,
                                                          std::size_t from) {
  for (std::size_t i = from; i < known_.size(); ++i) {
    if (auto decryption = Start(entry, known_[i])) {
      return decryption;
    }
  }
  return nullptr;
}

// The passwords are tried without the lock, as a WinZip AES key takes a thousand rounds of
// HMAC-SHA1 to derive and the other workers should not wait for it.
std::unique_ptr<EntryDecryption> PasswordKeeper::Open(const EncryptedEntry& entry,
                                                      const std::string& name, SkipReason& reason) {
  std::vector<Secret> known;
  {
    std::lock_guard lock(mutex_);
    for (const Secret& password : known_) known.push_back(password.Clone());
  }
  for (const Secret& password : known) {
    if (auto decryption = Start(entry, password)) {
      return decryption;
    }
  }
  std::lock_guard lock(mutex_);
  // Another worker may have been given the right one meanwhile.
  if (auto decryption = TryKnown(entry, known.size())) return decryption;
  reason = known_.empty() ? SkipReason::kEncrypted : SkipReason::kWrongPassword;
  if (gaveUp_ || known_.empty()) return nullptr;
  std::optional<Secret> password = Ask(PasswordRequest::kAnotherEntry, name);
  if (!password) {
    gaveUp_ = true;
    return nullptr;
  }
  auto decryption = Start(entry, *password);
  if (decryption) {
    known_.push_back(std::move(*password));
  } else {
    gaveUp_ = true;
  }
  return decryption;
}

}  // namespace zipdrop
