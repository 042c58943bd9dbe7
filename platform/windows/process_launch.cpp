#include "platform/windows/process_launch.h"

#include <windows.h>

#include <vector>

#include "platform/platform_services.h"
#include "platform/windows/command_line.h"
#include "platform/windows/handle_owner.h"
#include "platform/windows/windows_error.h"

namespace zipdrop {

namespace {

using FolderReader = UINT(WINAPI*)(wchar_t*, UINT);

std::wstring SystemFolder(FolderReader read) {
  std::vector<wchar_t> buffer(MAX_PATH);
  UINT length = read(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = read(buffer.data(), static_cast<UINT>(buffer.size()));
  }
  if (length == 0 || length >= buffer.size()) ThrowLastError("reading a system folder");
  return std::wstring(buffer.data(), length);
}

// SearchPathW with an explicit folder looks in that folder alone, and adds ".exe" when the name
// has no extension, as CreateProcessW itself would.
std::wstring FindIn(const std::wstring& folder, const std::wstring& program) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = SearchPathW(folder.c_str(), program.c_str(), L".exe",
                               static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length);
  }
}

bool NamesAFolder(std::wstring_view program) {
  return program.find_first_of(L"\\/:") != std::wstring_view::npos;
}

}  // namespace

// By default CreateProcessW looks for a bare program name in the launching program's own
// folder before anywhere else. zipdrop's folder has just received the files of an archive from
// anywhere, so an archive holding its own RunDll32.exe would be run in place of the system's.
// Only the two system folders are trusted for a bare name, and nothing else is tried.
std::wstring TrustedProgramPath(std::wstring_view commandLine) {
  std::wstring program(SplitCommandLine(commandLine).program);
  if (program.empty()) throw PlatformError("the command line names no program");
  if (NamesAFolder(program)) return {};
  for (FolderReader read : {&GetSystemDirectoryW, &GetWindowsDirectoryW}) {
    std::wstring found = FindIn(SystemFolder(read), program);
    if (!found.empty()) return found;
  }
  throw PlatformError("the program " + Utf8Of(program) + " is not in the system folders");
}

std::int64_t LaunchProcess(std::wstring_view commandLine, int windowStyle) {
  std::wstring application = TrustedProgramPath(commandLine);
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring writableLine(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(windowStyle);
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), writableLine.data(),
                      nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    ThrowLastError("CreateProcessW");
  }
  HandleOwner process(started.hProcess);
  HandleOwner thread(started.hThread);
  return started.dwProcessId;
}

}  // namespace zipdrop
