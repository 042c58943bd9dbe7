// Shared pieces of the Windows platform tests: a scratch folder and the test binary's own folder.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace zipdrop::testing {

/// The folder that holds the running test binary, zipdrop.exe and the launch probe.
inline std::filesystem::path BinaryFolder() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  return std::filesystem::path(path).parent_path();
}

/// A fresh, empty folder under the temporary directory, removed with its contents at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& name) {
    path_ = std::filesystem::temp_directory_path() /
            (L"zipdrop_test_" + name + L"_" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& Path() const { return path_; }
  std::u16string Text() const {
    std::wstring wide = path_.wstring();
    return std::u16string(wide.begin(), wide.end());
  }

 private:
  std::filesystem::path path_;
};

}  // namespace zipdrop::testing
