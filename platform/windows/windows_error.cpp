#include "platform/windows/windows_error.h"

#include <cstdio>

#include "platform/platform_error.h"

namespace zipdrop {

std::string Utf8Of(std::wstring_view text) {
  if (text.empty()) return {};
  int size = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), needed, nullptr, nullptr);
  }
  return utf8;
}

std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  return text.empty() ? "no description" : Utf8Of(text);
}

void ThrowHresult(HRESULT result, std::string_view operation) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  throw PlatformError(std::string(operation) + " failed (" + code + "): " +
                      SystemMessage(static_cast<DWORD>(result)));
}

void ThrowLastError(std::string_view operation) {
  DWORD error = GetLastError();
  throw PlatformError(std::string(operation) + " failed (error " + std::to_string(error) +
                      "): " + SystemMessage(error));
}

}  // namespace zipdrop
