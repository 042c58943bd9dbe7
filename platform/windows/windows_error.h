// The one place where Win32 and COM error codes become PlatformError.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zipdrop {

/// The system's own description of an error code, in UTF-8, without the trailing line break.
std::string SystemMessage(DWORD code);

/// UTF-8 for a UTF-16 text, used only to put system texts into exception messages.
std::string Utf8Of(std::wstring_view text);

/// Throws PlatformError naming the operation, the code and the system's description of it.
[[noreturn]] void ThrowHresult(HRESULT result, std::string_view operation);

/// Throws PlatformError for the calling thread's last Win32 error.
[[noreturn]] void ThrowLastError(std::string_view operation);

inline void ThrowIfFailed(HRESULT result, std::string_view operation) {
  if (FAILED(result)) ThrowHresult(result, operation);
}

}  // namespace zipdrop
