#include "platform/windows/handler_path.h"

#include <windows.h>

#include <vector>

namespace zipdrop {

std::wstring ShortFormOf(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        GetShortPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length);
  }
}

// A character outside the code page becomes its default character, and with best fit a
// character merely like one inside it takes its place: "¥" a backslash under code page 932, the
// fullwidth "＼" one under 1252, "é" an "e". Only a text that comes back as it went names the same
// file on the other side.
bool SurvivesAnsiCodePage(std::wstring_view text) {
  if (text.empty()) return true;
  BOOL usedDefault = FALSE;
  // The Unicode code pages have no best fit to turn off and refuse to report a default character;
  // for them an unpaired surrogate, which they would replace, is the one thing that does not
  // survive.
  bool unicode = GetACP() == CP_UTF8;
  DWORD flags = unicode ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL* reportDefault = unicode ? nullptr : &usedDefault;
  int units = static_cast<int>(text.size());
  int bytes =
      WideCharToMultiByte(CP_ACP, flags, text.data(), units, nullptr, 0, nullptr, reportDefault);
  if (bytes <= 0) return false;
  std::string ansi(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, flags, text.data(), units, ansi.data(), bytes, nullptr,
                      reportDefault);
  if (usedDefault) return false;
  int back = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), bytes, nullptr, 0);
  if (back <= 0) return false;
  std::wstring wide(static_cast<size_t>(back), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), bytes, wide.data(), back);
  return wide == text;
}

// Win32 folds doubled separators in an ordinary path, but a "\\?\" path goes to the file system
// verbatim, and no file system has a component without a name. The leading pair of a UNC or
// verbatim path is kept.
std::wstring WithoutDoubledSeparators(std::wstring_view path) {
  std::wstring result(path.substr(0, 2));
  for (size_t i = result.size(); i < path.size(); ++i) {
    if (path[i] != L'\\' || result.back() != L'\\') result.push_back(path[i]);
  }
  return result;
}

// The handler may expand "%NAME%" in its path: Wine's always does, and Windows' does under flags
// that we cannot see. "evil%OS%" would then be a path to the evilWindows_NT.exe that the same
// archive put beside it. Neither rundll32 nor the handler is long-path aware, so a path of MAX_PATH
// characters or more would reach the handler cut or not at all, and not as it was checked.
bool HandlerTakesAsItIs(std::wstring_view path) {
  return path.size() < MAX_PATH && path.find(L'%') == std::wstring_view::npos &&
         SurvivesAnsiCodePage(path);
}

// A short name is made of the OEM code page's characters where short names are on, and is ASCII
// on most systems; it is held to the same rule, since nothing else keeps it from being changed.
std::optional<std::wstring> HandlerFormOf(const std::wstring& folder,
                                          ShortFormReader readShortForm) {
  if (HandlerTakesAsItIs(folder)) return folder;
  std::wstring shortForm = readShortForm(folder);
  if (!shortForm.empty() && HandlerTakesAsItIs(shortForm)) return shortForm;
  return std::nullopt;
}

}  // namespace zipdrop
