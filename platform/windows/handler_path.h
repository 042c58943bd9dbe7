// The form of a folder's path that the folder handler receives exactly as it was checked.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zipdrop {

/// Reads the short (8.3) form of an existing path; empty when the system gives none.
using ShortFormReader = std::wstring (*)(const std::wstring& path);

/// The short form of the path as GetShortPathNameW gives it. A component without a short name
/// (short names are off on its volume) keeps its long name.
std::wstring ShortFormOf(const std::wstring& path);

/// Whether the text comes back unchanged from the ANSI code page, every character mapped exactly.
bool SurvivesAnsiCodePage(std::wstring_view text);

/// The path with every run of backslashes after its leading pair cut to one.
std::wstring WithoutDoubledSeparators(std::wstring_view path);

/// Whether the folder handler takes the path as it is: it survives the ANSI code page, holds no
/// "%" and is shorter than MAX_PATH.
bool HandlerTakesAsItIs(std::wstring_view path);

/// The path itself when the handler takes it as it is, else its short form when the handler takes
/// that; nothing when it takes neither and could only be given some other path.
std::optional<std::wstring> HandlerFormOf(const std::wstring& folder,
                                          ShortFormReader readShortForm = &ShortFormOf);

}  // namespace zipdrop
