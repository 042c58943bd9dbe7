#include "platform/windows/windows_platform.h"

#include <windows.h>

#include <vector>

#include "platform/windows/automation.h"
#include "platform/windows/command_line.h"
#include "platform/windows/process_launch.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/windows_error.h"

namespace zipdrop {

namespace {

// Win32 caps environment values at 32,767 characters, and long-path-aware programs can have
// module paths up to the same size; twice that leaves room for the terminating null.
constexpr DWORD kLongestText = 65536;

UINT IconFlag(int iconCode) {
  switch (iconCode) {
    case kIconStop:
      return MB_ICONSTOP;
    case kIconExclamation:
      return MB_ICONEXCLAMATION;
    default:
      throw PlatformError("unknown icon code " + std::to_string(iconCode));
  }
}

}  // namespace

void RestrictDllSearchToSystem() {
  if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    ThrowLastError("SetDefaultDllDirectories");
  }
}

ComApartment::ComApartment() {
  ThrowIfFailed(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx");
}

ComApartment::~ComApartment() { CoUninitialize(); }

// The box is brought to the foreground because the user's last click was in the window the file
// was dropped from, and a box behind it would look like a program that did nothing.
void WindowsPlatform::ShowMessage(const std::u16string& text, const std::u16string& title,
                                  int iconCode) {
  UINT style = MB_OK | IconFlag(iconCode) | MB_SETFOREGROUND;
  if (MessageBoxW(nullptr, WideOf(text).c_str(), WideOf(title).c_str(), style) == 0) {
    ThrowLastError("MessageBoxW");
  }
}

std::u16string WindowsPlatform::ReadArgumentText() {
  return U16Of(SplitCommandLine(GetCommandLineW()).arguments);
}

std::u16string WindowsPlatform::ReadProgramFolder() {
  for (DWORD size = MAX_PATH; size <= kLongestText; size *= 2) {
    std::vector<wchar_t> buffer(size);
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) ThrowLastError("GetModuleFileNameW");
    if (length < size) {
      std::wstring_view path(buffer.data(), length);
      size_t cut = path.find_last_of(L"\\/");
      if (cut == std::wstring_view::npos) throw PlatformError("the program path has no folder");
      // "C:" alone would name the current folder of drive C, not its root.
      bool driveRoot = cut == 2 && path[1] == L':';
      return U16Of(path.substr(0, driveRoot ? cut + 1 : cut));
    }
  }
  throw PlatformError("the program path is too long");
}

std::u16string WindowsPlatform::ReadEnvironment(const std::u16string& name) {
  std::wstring wideName = WideOf(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetEnvironmentVariableW(wideName.c_str(), buffer.data(),
                                           static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      DWORD error = GetLastError();
      if (error == ERROR_SUCCESS || error == ERROR_ENVVAR_NOT_FOUND) return {};
      ThrowLastError("GetEnvironmentVariableW");
    }
    // A value that does not fit is reported as the size it needs, its null included.
    if (length < buffer.size()) return U16Of(std::wstring_view(buffer.data(), length));
    if (length > kLongestText) throw PlatformError("environment value too long");
    buffer.resize(length);
  }
}

ObjectRef WindowsPlatform::CreateAutomationObject(const std::u16string& progId) {
  return CreateDispatchObject(progId);
}

Value WindowsPlatform::CallMember(const ObjectRef& object, const std::u16string& member,
                                  const std::vector<Value>& arguments) {
  return CallDispatchMember(object, member, arguments);
}

std::int64_t WindowsPlatform::LaunchCommandLine(const std::u16string& commandLine,
                                                int windowStyle) {
  return LaunchProcess(WideOf(commandLine), windowStyle);
}

}  // namespace zipdrop
