// The extra fields that follow an entry's name, in the central directory and in local headers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/posix/extractor/byte_order.h"

namespace zipdrop {

/// The extra fields the readers look at, by their tags.
inline constexpr std::uint16_t kExtraZip64 = 0x0001;
inline constexpr std::uint16_t kExtraTimestamp = 0x5455;    // Unix times, seconds since 1970.
inline constexpr std::uint16_t kExtraUnicodePath = 0x7075;  // Info-ZIP's UTF-8 name.
inline constexpr std::uint16_t kExtraAes = 0x9901;          // WinZip AES.

struct ExtraField {
  std::uint16_t tag;
  std::string_view data;
};

/// Reads the extra fields one by one. A field whose length runs past the end (padding, or a
/// writer that got the length wrong) is cut at the end rather than dropped: the fields before it
/// were fine, and other readers take what is there; each field's reader checks that its own
/// field is long enough.
class ExtraFieldReader {
 public:
  explicit ExtraFieldReader(std::string_view fields) : rest_(fields) {}

  std::optional<ExtraField> Next() {
    if (rest_.size() < 4) return std::nullopt;
    std::uint16_t tag = ReadLe16(rest_.data());
    std::size_t length = std::min<std::size_t>(ReadLe16(rest_.data() + 2), rest_.size() - 4);
    ExtraField field{tag, rest_.substr(4, length)};
    rest_.remove_prefix(4 + length);
    return field;
  }

  /// The first field with the tag, if any.
  static std::optional<std::string_view> Find(std::string_view fields, std::uint16_t tag) {
    ExtraFieldReader reader(fields);
    while (std::optional<ExtraField> field = reader.Next()) {
      if (field->tag == tag) return field->data;
    }
    return std::nullopt;
  }

 private:
  std::string_view rest_;
};

}  // namespace zipdrop
