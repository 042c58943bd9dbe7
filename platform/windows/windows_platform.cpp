#include "platform/windows/windows_platform.h"

#include <windows.h>

#include <vector>

#include "platform/windows/automation.h"
#include "platform/windows/command_line.h"
#include "platform/windows/module_path.h"
#include "platform/windows/process_launch.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/windows_error.h"

namespace zipdrop {

namespace {

// Win32 caps environment values at 32,767 characters; twice that leaves room for the null.
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

// OLE 1's DDE support serves no purpose here and only adds overhead; the shell's documentation
// asks the programs that call it to turn it off.
ComApartment::ComApartment() {
  ThrowIfFailed(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE),
                "CoInitializeEx");
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
  return U16Of(SplitCommandLine(GetCommandLineW(), ModulePath()).arguments);
}

std::u16string WindowsPlatform::ReadProgramFolder() { return U16Of(FolderOfModule(ModulePath())); }

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

// CopyHere is the one call after which the shell may still be at work on a thread of its own, and
// a failed CopyHere may have started that work as well as a successful one, so the wait follows
// it however it ends. The shell may keep a reference for as long as an object it returned lives,
// and the run holds the source and destination folders across the call, so the wait goes down
// to the references held just before the call, not to none, which would never come. What such
// objects hold is waited for when they are gone, as the program ends (see ShellProcessReference).
// No other call waits.
Value WindowsPlatform::CallMember(const ObjectRef& object, const std::u16string& member,
                                  const std::vector<Value>& arguments) {
  struct WaitAfterCopy {
    ShellProcessReference& shell;
    bool copies;
    ULONG heldBefore;
    ~WaitAfterCopy() {
      if (copies) shell.WaitForShell(heldBefore);
    }
  } waitAfterCopy{shellReference_, SameIgnoringCase(WideOf(member), L"CopyHere"),
                  shellReference_.Held()};
  return CallDispatchMember(object, member, arguments);
}

std::int64_t WindowsPlatform::LaunchCommandLine(const std::u16string& commandLine,
                                                int windowStyle) {
  return LaunchProcess(WideOf(commandLine), windowStyle);
}

}  // namespace zipdrop
