// Letter-case-blind comparison of names, for ProgIDs, member names and environment names.
#pragma once

#include <string_view>

namespace zipdrop {

/// Only A-Z and a-z are folded: the result must not depend on the user's locale, and the names
/// compared here (ProgIDs, member and variable names) are ASCII on every platform.
template <typename Char>
constexpr Char FoldAsciiCase(Char c) {
  return (c >= Char('A') && c <= Char('Z')) ? Char(c - Char('A') + Char('a')) : c;
}

template <typename Char>
constexpr bool EqualsIgnoringAsciiCase(std::basic_string_view<Char> a,
                                       std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  }
  return true;
}

inline bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return EqualsIgnoringAsciiCase<char16_t>(a, b);
}

inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return EqualsIgnoringAsciiCase<char>(a, b);
}

}  // namespace zipdrop
