#include "platform/posix/extractor/passwords.h"

#include "platform/posix/extractor/decoder_set.h"
#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/read_at.h"
#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

namespace {

constexpr int kMostAttempts = 3;
// ZipCrypto's check byte lets one wrong password in 256 through. For an entry this small, a
// password that passes is tried on the whole entry, so that a wrong one is told at once, before
// anything is written; a larger entry tells only once it has been decoded.
constexpr std::uint64_t kTrialLimit = 4 * 1024 * 1024;

// What one password made of one entry.
struct Fit {
  enum Kind {
    kRefused,        // The check refused it.
    kPassedCheck,    // The check passed it; the content is yet to tell.
    kProven,         // The content was whole, or the check (AES's) is strong enough.
    kContentFailed,  // The check passed it, and the content then failed.
  };
  Kind kind = kRefused;
  std::unique_ptr<EntryDecryption> decryption;  // For kPassedCheck and kProven.
};

// Whether the entry decrypts and decodes to its declared size and CRC with the decryption. The
// decode stops once it outgrows the declared size, as every other decode does: a small entry
// that inflates to gigabytes would otherwise cost minutes for every password tried.
Fit::Kind TrialDecode(int fd, const EncryptedEntry& entry, EntryDecryption& decryption) {
  DecoderSet decoders;
  MethodDecoder* decoder = decoders.For(entry.content.method);
  if (decoder == nullptr) return Fit::kPassedCheck;  // Extracting it will fail anyway.
  std::vector<unsigned char> input;
  std::vector<char> output(64 * 1024);
  EntryStream stream(fd, entry.content, *decoder, input);
  stream.Decrypt(decryption, {}, entry.crcKnown);
  for (std::uint64_t total = 0; total <= entry.content.uncompressedSize;) {
    std::ptrdiff_t count = stream.Read(output.data(), output.size());
    if (count == 0) return Fit::kProven;
    if (count < 0) break;
    total += static_cast<std::uint64_t>(count);
  }
  return Fit::kContentFailed;
}

// AES's verifier lets one wrong password in 65,536 through; its authentication code catches
// those at the end. ZipCrypto's check is tried on the content of a small entry.
Fit Try(int fd, const EncryptedEntry& entry, const Secret& password) {
  auto decryption = StartDecryption(entry.scheme, password.View(), entry.header);
  if (!decryption) return {};
  if (entry.scheme.aes) return {Fit::kProven, std::move(decryption)};
  if (entry.content.uncompressedSize > kTrialLimit) {
    return {Fit::kPassedCheck, std::move(decryption)};
  }
  auto trial = StartDecryption(entry.scheme, password.View(), entry.header);
  Fit::Kind kind = TrialDecode(fd, entry, *trial);
  if (kind == Fit::kContentFailed) return {kind, nullptr};
  return {kind, std::move(decryption)};
}

// The DOS time of the entry's local header. The central directory's time may have given way to
// the Unix time of an extended timestamp, and the check byte is taken from the DOS time only.
std::optional<std::uint8_t> LocalTimeCheckByte(int fd, const CentralEntry& entry) {
  std::optional<LocalHeader> local =
      ReadLocalHeader(fd, entry.localHeaderOffset, LocalHeaderParts::kFixedFields);
  if (!local) return std::nullopt;
  return static_cast<std::uint8_t>((local->modified >> 8) & 0xFF);
}

}  // namespace

// What the passwords given made of one entry.
struct PasswordKeeper::Tried {
  OpenedEntry opened;                      // Set when one opened it.
  bool proven = false;                     // And its content proved it right.
  std::vector<std::size_t> contentFailed;  // Those that passed the check and failed the content.
};

std::optional<EncryptedEntry> ReadEncryptedEntry(int fd, const CentralEntry& entry) {
  if ((entry.flags & kFlagStrongEncryption) != 0) return std::nullopt;
  EncryptedEntry encrypted;
  encrypted.content = entry;
  encrypted.content.flags &= static_cast<std::uint16_t>(~kFlagEncrypted);
  if (entry.method == kMethodAes) {
    std::optional<LocalHeader> local =
        ReadLocalHeader(fd, entry.localHeaderOffset, LocalHeaderParts::kWithNameAndExtra);
    if (!local) return std::nullopt;
    encrypted.scheme.aes = FindAesField(
        {reinterpret_cast<const unsigned char*>(local->extra.data()), local->extra.size()});
    if (!encrypted.scheme.aes) return std::nullopt;
    encrypted.content.method = encrypted.scheme.aes->actualMethod;
    encrypted.crcKnown = encrypted.scheme.aes->vendorVersion == 1;
  } else {
    // The check byte is the CRC's high byte; with a data descriptor the CRC was not known when
    // the header was written, and the high byte of the DOS time takes its place (Info-ZIP's zip
    // marks every encrypted entry so). Some writers use the CRC's byte all the same, so with a
    // descriptor either is taken.
    encrypted.scheme.checkByte = static_cast<std::uint8_t>(entry.crc >> 24);
    if ((entry.flags & kFlagDataDescriptor) != 0) {
      encrypted.scheme.otherCheckByte = LocalTimeCheckByte(fd, entry);
      if (!encrypted.scheme.otherCheckByte) return std::nullopt;
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

std::optional<Secret> PasswordKeeper::Ask(PasswordRequest request, const std::string& name) {
  if (source_ == nullptr) return std::nullopt;
  return source_->Ask(request, name);
}

std::vector<PasswordKeeper::Candidate> PasswordKeeper::CandidatesFrom(std::size_t from) const {
  std::vector<Candidate> candidates;
  for (std::size_t i = from; i < known_.size(); ++i) {
    if (!known_[i].refuted) candidates.push_back({i, known_[i].secret.Clone()});
  }
  return candidates;
}

PasswordKeeper::Tried PasswordKeeper::TryEach(const EncryptedEntry& entry,
                                              std::vector<Candidate> candidates) {
  Tried tried;
  for (const Candidate& candidate : candidates) {
    Fit fit = Try(archiveFd_, entry, candidate.secret);
    if (fit.decryption) {
      tried.opened.decryption = std::move(fit.decryption);
      tried.opened.password = candidate.index;
      tried.proven = fit.kind == Fit::kProven;
      return tried;
    }
    if (fit.kind == Fit::kContentFailed) tried.contentFailed.push_back(candidate.index);
  }
  return tried;
}

// A damaged entry among the sample must not make the right password wrong, so one whose content
// fails sends the judgement on to the next; and a wrong password that passes the first check by
// chance fails the content of the others, or stays on trial.
PasswordKeeper::Judgement PasswordKeeper::Judge(std::span<const NamedEncryptedEntry> sample,
                                                const Secret& password) {
  bool contentFailed = false, passedCheck = false;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    Fit fit = Try(archiveFd_, sample[i].entry, password);
    if (fit.kind == Fit::kProven) return Judgement::kRight;
    // The other entries may have passwords of their own.
    if (fit.kind == Fit::kRefused && i == 0) return Judgement::kWrong;
    contentFailed = contentFailed || fit.kind == Fit::kContentFailed;
    passedCheck = passedCheck || fit.kind == Fit::kPassedCheck;
  }
  return contentFailed && !passedCheck ? Judgement::kWrong : Judgement::kOnTrial;
}

void PasswordKeeper::AskFirst(std::span<const NamedEncryptedEntry> sample) {
  if (sample.empty()) return;
  std::lock_guard lock(mutex_);
  PasswordRequest request = PasswordRequest::kFirst;
  for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
    std::optional<Secret> password = Ask(request, sample.front().name);
    if (!password) break;
    Judgement judgement = Judge(sample, *password);
    if (judgement != Judgement::kWrong) {
      known_.push_back({std::move(*password), judgement == Judgement::kRight});
      return;
    }
    wrongGiven_ = true;
    request = PasswordRequest::kWrong;
  }
  gaveUp_ = true;
}

// Encrypted entries are skipped as without a password only when none was ever given.
SkipReason PasswordKeeper::NoneFitsReason() const {
  return known_.empty() && !wrongGiven_ ? SkipReason::kEncrypted : SkipReason::kWrongPassword;
}

// The passwords are tried without the lock, as a WinZip AES key takes a thousand rounds of
// HMAC-SHA1 to derive and the other workers should not wait for it.
OpenedEntry PasswordKeeper::Open(const EncryptedEntry& entry, const std::string& name,
                                 PasswordRequest whenNoneFits) {
  std::vector<Candidate> given;
  std::size_t tried = 0;
  {
    std::lock_guard lock(mutex_);
    given = CandidatesFrom(0);
    tried = known_.size();
  }
  Tried first = TryEach(entry, std::move(given));
  if (first.opened.decryption) {
    if (first.proven) Confirm(first.opened.password);
    return std::move(first.opened);
  }
  std::lock_guard lock(mutex_);
  // Another worker may have been given the right one meanwhile.
  Tried later = TryEach(entry, CandidatesFrom(tried));
  if (later.opened.decryption) {
    known_[later.opened.password].proven |= later.proven;
    return std::move(later.opened);
  }
  // A password proven right on other entries, whose check passes here, meets a damaged entry.
  first.contentFailed.insert(first.contentFailed.end(), later.contentFailed.begin(),
                             later.contentFailed.end());
  for (std::size_t index : first.contentFailed) {
    if (known_[index].proven) return {nullptr, 0, SkipReason::kUnreadableData};
  }
  if (!first.contentFailed.empty()) whenNoneFits = PasswordRequest::kWrong;
  return AskForEntry(entry, name, whenNoneFits);
}

// Asked under the lock, once: a wrong answer gives up on every later entry that no password
// given opens, rather than ask for each of them in turn.
OpenedEntry PasswordKeeper::AskForEntry(const EncryptedEntry& entry, const std::string& name,
                                        PasswordRequest request) {
  if (gaveUp_ || (known_.empty() && !wrongGiven_)) return {nullptr, 0, NoneFitsReason()};
  std::optional<Secret> password = Ask(request, name);
  if (!password) {
    gaveUp_ = true;
    return {nullptr, 0, NoneFitsReason()};
  }
  Fit fit = Try(archiveFd_, entry, *password);
  if (!fit.decryption) {
    wrongGiven_ = true;
    gaveUp_ = true;
    return {nullptr, 0, NoneFitsReason()};
  }
  known_.push_back({std::move(*password), fit.kind == Fit::kProven});
  return {std::move(fit.decryption), known_.size() - 1};
}

void PasswordKeeper::Confirm(std::size_t password) {
  std::lock_guard lock(mutex_);
  known_[password].proven = true;
}

bool PasswordKeeper::Refute(std::size_t password) {
  std::lock_guard lock(mutex_);
  if (known_[password].proven) return false;
  known_[password].refuted = true;
  wrongGiven_ = true;
  return true;
}

}  // namespace zipdrop
