// The passwords of encrypted entries: where they come from, and how one extraction keeps them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/zip_decryption.h"
#include "zipdrop/extractor/extraction_report.h"
#include "zipdrop/extractor/password_source.h"
#include "zipdrop/extractor/secret.h"

namespace zipdrop {

/// How an encrypted entry's bytes are laid out: the header that checks a password, the content
/// to decrypt and decode, and the trailer that authenticates it.
struct EncryptedEntry {
  EncryptionScheme scheme;
  std::vector<unsigned char> header;
  CentralEntry content;  // The entry as its decoder sees it: the content's range, the actual
                         // method, and a CRC to check only when crcKnown.
  bool crcKnown = true;  // AE-2 stores no CRC; the authentication code stands in for it.
  std::uint64_t trailerOffset = 0;
};

/// Reads the layout of an encrypted entry (its data offset known); nothing when it is not one we
/// can read: a damaged header, or a strong encryption other than ZipCrypto and WinZip AES.
std::optional<EncryptedEntry> ReadEncryptedEntry(int fd, const CentralEntry& entry);

/// An encrypted entry with the name the user knows it by.
struct NamedEncryptedEntry {
  EncryptedEntry entry;
  std::string name;
};

/// What opening an encrypted entry gave: the decryption and the password that made it, or why no
/// password opened the entry.
struct OpenedEntry {
  std::unique_ptr<EntryDecryption> decryption;
  std::size_t password = 0;                     // Which of the passwords given, for Refute.
  SkipReason refused = SkipReason::kEncrypted;  // When there is no decryption.
};

/// The passwords of one extraction, shared by its workers. The first is asked for before the
/// workers start, judged against the first encrypted entries, and asked again when it was wrong,
/// three times at most. An entry that none of the passwords given opens asks once more, for it
/// and those after it. The passwords are wiped when the keeper goes.
///
/// A password is wrong only when an entry's check refuses it, or when the content of every entry
/// it was tried on fails: ZipCrypto's one-byte check lets a wrong password through one time in
/// 256, and a damaged entry must not make the right password wrong. A password stays on trial
/// until the content of some entry proves it right.
class PasswordKeeper {
 public:
  /// source may be null: every encrypted entry is then skipped.
  PasswordKeeper(int archiveFd, PasswordSource* source) : archiveFd_(archiveFd), source_(source) {}

  /// How many of the first encrypted entries AskFirst judges a password by.
  static constexpr std::size_t kSampled = 4;

  /// Asks for the run's password, judging it by the sample, the first encrypted entries in the
  /// archive's order (at most kSampled); the first one is named in the question.
  void AskFirst(std::span<const NamedEncryptedEntry> sample);

  /// Starts decrypting the entry with one of the passwords given, asking for another (with
  /// whenNoneFits) when none fits; nothing, with the reason, when no password opens it.
  OpenedEntry Open(const EncryptedEntry& entry, const std::string& name,
                   PasswordRequest whenNoneFits = PasswordRequest::kAnotherEntry);

  /// The content that the password opened was whole: the password is right.
  void Confirm(std::size_t password);
  /// The content that the password opened failed its CRC or authentication code. When no entry
  /// proved the password right, it is wrong from now on, and true tells that the entry is worth
  /// opening again; false means the entry itself is damaged.
  bool Refute(std::size_t password);

 private:
  struct Known {
    Secret secret;
    bool proven = false;   // Some entry's content was whole with it.
    bool refuted = false;  // It passed a check, and the content then failed.
  };
  struct Candidate {
    std::size_t index;
    Secret secret;
  };
  struct Tried;
  enum class Judgement { kRight, kOnTrial, kWrong };

  std::optional<Secret> Ask(PasswordRequest request, const std::string& name);
  std::vector<Candidate> CandidatesFrom(std::size_t from) const;
  Tried TryEach(const EncryptedEntry& entry, std::vector<Candidate> candidates);
  Judgement Judge(std::span<const NamedEncryptedEntry> sample, const Secret& password);
  OpenedEntry AskForEntry(const EncryptedEntry& entry, const std::string& name,
                          PasswordRequest request);
  SkipReason NoneFitsReason() const;

  int archiveFd_;
  PasswordSource* source_;
  mutable std::mutex mutex_;  // Held while asking, so that one question is asked at a time.
  std::vector<Known> known_;  // Only ever appended to, under mutex_.
  bool wrongGiven_ = false;   // A password given was wrong.
  bool gaveUp_ = false;       // The user cancelled, or gave no right password when asked again.
};

}  // namespace zipdrop
