// Text crosses between the portable core and Win32 here, and nowhere else.
//
// With MinGW-w64 and MSVC alike, wchar_t is a UTF-16 code unit, so a copy unit by unit is the whole
// conversion: nothing is decoded, and unpaired surrogates in a file name survive untouched.
#pragma once

#include <string>
#include <string_view>

namespace zipdrop {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text must be UTF-16");

inline std::wstring WideOf(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

inline std::u16string U16Of(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}

}  // namespace zipdrop
