// The passwords of encrypted entries: where they come from, and how one extraction keeps them.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/posix/extractor/central_directory.h"
#include "platform/posix/extractor/extraction_progress.h"
#include "platform/posix/extractor/extraction_report.h"
#include "platform/posix/extractor/secret.h"
#include "platform/posix/extractor/zip_decryption.h"

namespace zipdrop {

/// Why a password is asked for.
enum class PasswordRequest {
  kFirst,        // The archive holds encrypted entries.
  kWrong,        // The password given was wrong.
  kAnotherEntry  // An entry was encrypted with another password than the ones given.
};

/// Asks the user for passwords; the platform's dialog or terminal prompt.
class PasswordSource {
 public:
  virtual ~PasswordSource() = default;
  /// The password, or nothing when the user cancelled or cannot be asked. entryName is the entry
  /// that needs it (for kAnotherEntry).
  virtual std::optional<Secret> Ask(PasswordRequest request, const std::string& entryName) = 0;
};

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

/// The passwords of one extraction, shared by its workers. The first is asked for before the
/// workers start, checked against the first encrypted entry, and asked again when it was wrong,
/// three times at most. An entry that none of the passwords given opens asks once more, for it
/// and those after it. The passwords are wiped when the keeper goes.
class PasswordKeeper {
 public:
  /// source may be null: every encrypted entry is then skipped.
  PasswordKeeper(int archiveFd, PasswordSource* source, ExtractionProgress* progress)
      : archiveFd_(archiveFd), source_(source), progress_(progress) {}

  /// Asks for the run's password, checking it against the first encrypted entry.
  void AskFirst(const EncryptedEntry& first, const std::string& name);

  /// Starts decrypting the entry with one of the passwords given, asking for another when none
  /// fits; nothing, with the reason, when no password opens it.
  std::unique_ptr<EntryDecryption> Open(const EncryptedEntry& entry, const std::string& name,
                                        SkipReason& reason);

 private:
  std::optional<Secret> Ask(PasswordRequest request, const std::string& name);
  std::unique_ptr<EntryDecryption> Start(const EncryptedEntry& entry, const Secret& password);
  std::unique_ptr<EntryDecryption> TryKnown(const EncryptedEntry& entry, std::size_t from);

  int archiveFd_;
  PasswordSource* source_;
  ExtractionProgress* progress_;
  std::mutex mutex_;           // Held while asking, so that one question is asked at a time.
  std::vector<Secret> known_;  // Only ever appended to, under mutex_.
  bool gaveUp_ = false;        // The user cancelled, or gave no right password when asked again.
};

}  // namespace zipdrop
