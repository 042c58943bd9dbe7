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

/// The path itself when it survives the ANSI code page, else its short form when that does;
/// nothing when neither does and the handler could only be given some other path.
std::optional<std::wstring> HandlerFormOf(const std::wstring& folder,
                                          ShortFormReader readShortForm = &ShortFormOf);

}  // namespace zipdrop
