// UTF-16 text of the logic <-> the bytes of POSIX file names, arguments and environment values.
#pragma once

#include <string>
#include <string_view>

namespace zipdrop {

/// Decodes UTF-8 bytes to UTF-16. A byte that is not part of a valid UTF-8 sequence becomes the
/// lone surrogate U+DC80 + (byte - 0x80), so a file name in any encoding survives the trip
/// through the logic and comes back byte for byte from ToSystemBytes.
std::u16string FromSystemBytes(std::string_view bytes);

/// Encodes UTF-16 to UTF-8, turning the lone surrogates U+DC80..U+DCFF back into their bytes.
/// Any other unpaired surrogate becomes U+FFFD.
std::string ToSystemBytes(std::u16string_view text);

}  // namespace zipdrop
