#include "platform/windows/module_path.h"

#include <windows.h>

#include <vector>

#include "platform/platform_error.h"
#include "platform/windows/windows_error.h"

namespace zipdrop {

namespace {

// Long-path-aware programs can have module paths up to 32,767 characters; twice that leaves
// room for the terminating null.
constexpr DWORD kLongestPath = 65536;

constexpr std::wstring_view kVerbatimPrefix = LR"(\\?\)";

bool NamesARoot(std::wstring_view folder) {
  if (!folder.empty() && folder.back() == L':') return true;
  // "\\?\Volume{...}" names a volume device the way "\\?\C:" does.
  return folder.starts_with(kVerbatimPrefix) &&
         folder.find_first_of(L"\\/", kVerbatimPrefix.size()) == std::wstring_view::npos;
}

}  // namespace

std::wstring ModulePath() {
  for (DWORD size = MAX_PATH; size <= kLongestPath; size *= 2) {
    std::vector<wchar_t> buffer(size);
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) ThrowLastError("GetModuleFileNameW");
    if (length < size) return std::wstring(buffer.data(), length);
  }
  throw PlatformError("the program path is too long");
}

std::wstring FolderOfModule(std::wstring_view modulePath) {
  size_t cut = modulePath.find_last_of(L"\\/");
  if (cut == std::wstring_view::npos) throw PlatformError("the program path has no folder");
  std::wstring_view folder = modulePath.substr(0, cut);
  return std::wstring(NamesARoot(folder) ? modulePath.substr(0, cut + 1) : folder);
}

}  // namespace zipdrop
