// Where the passwords of encrypted entries come from: the question the platform asks the user.
#pragma once

#include <optional>
#include <string>

#include "zipdrop/extractor/secret.h"

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

}  // namespace zipdrop
