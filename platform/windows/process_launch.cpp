#include "platform/windows/process_launch.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/platform_error.h"
#include "platform/windows/command_line.h"
#include "platform/windows/handle_owner.h"
#include "platform/windows/handler_path.h"
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

std::wstring_view FileName(std::wstring_view path) {
  size_t cut = path.find_last_of(L"\\/:");
  return cut == std::wstring_view::npos ? path : path.substr(cut + 1);
}

bool NamedEither(std::wstring_view path, std::wstring_view bare, std::wstring_view withExtension) {
  std::wstring_view name = FileName(path);
  return SameIgnoringCase(name, bare) || SameIgnoringCase(name, withExtension);
}

std::wstring_view Trimmed(std::wstring_view text, std::wstring_view dropped) {
  size_t first = text.find_first_not_of(dropped);
  if (first == std::wstring_view::npos) return {};
  return text.substr(first, text.find_last_not_of(dropped) - first + 1);
}

bool IsExistingFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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

// rundll32 reads "DLL,ENTRY REST": the DLL runs to the comma, the entry point to the next blank,
// and the rest goes to the entry point untouched.
std::optional<std::wstring> FileProtocolTarget(std::wstring_view commandLine) {
  CommandLineParts parts = SplitCommandLine(commandLine);
  if (!NamedEither(parts.program, L"rundll32", L"rundll32.exe")) return std::nullopt;
  size_t comma = parts.arguments.find(L',');
  if (comma == std::wstring_view::npos) return std::nullopt;
  if (!NamedEither(Trimmed(parts.arguments.substr(0, comma), L" \t\""), L"url", L"url.dll")) {
    return std::nullopt;
  }
  std::wstring_view entry = Trimmed(parts.arguments.substr(comma + 1), L" \t");
  size_t entryEnd = std::min(entry.find_first_of(L" \t"), entry.size());
  if (!SameIgnoringCase(entry.substr(0, entryEnd), L"FileProtocolHandler")) return std::nullopt;
  return std::wstring(Trimmed(entry.substr(entryEnd), L" \t"));
}

// The handler gives its path to the shell's execute function, which, for a path that is no
// folder, tries the program extensions on it: "D:\tools\photos" would start a photos.exe, .com,
// .bat or .cmd that the archive has just put beside zipdrop.exe. The handler also takes its path
// only in the ANSI code page, into which rundll32 converts it with best fit, so the path it opens
// must be one that the conversion leaves as it is; a "café" folder would otherwise be opened as
// "cafe", where the archive may have put a cafe.exe.
std::wstring WithHandlerFolderChecked(std::wstring_view commandLine,
                                      ShortFormReader readShortForm) {
  std::optional<std::wstring> target = FileProtocolTarget(commandLine);
  if (!target) return std::wstring(commandLine);
  std::wstring folder = WithoutDoubledSeparators(*target);
  if (!IsExistingFolder(folder)) {
    throw PlatformError("the folder handler is started for existing folders only");
  }
  std::optional<std::wstring> handlerForm = HandlerFormOf(folder, readShortForm);
  if (!handlerForm) {
    throw PlatformError("the folder " + Utf8Of(folder) + " has no path the handler takes as it is");
  }
  // The target is the line's last text, with only blanks and tabs after it.
  size_t targetEnd = commandLine.find_last_not_of(L" \t") + 1;
  return std::wstring(commandLine.substr(0, targetEnd - target->size())) + *handlerForm;
}

// The new process starts in the system folder rather than in ours: zipdrop's current folder may
// well be its own folder, where the archive's files have just landed, and a program looks for
// DLLs and programs in its current folder.
std::int64_t LaunchProcess(std::wstring_view commandLine, int windowStyle,
                           ShortFormReader readShortForm) {
  std::wstring line = WithHandlerFolderChecked(commandLine, readShortForm);
  std::wstring application = TrustedProgramPath(line);
  std::wstring workingFolder = SystemFolder(&GetSystemDirectoryW);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(windowStyle);
  PROCESS_INFORMATION started{};
  // CreateProcessW may write into the command line, which is our own copy.
  if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr,
                      nullptr, FALSE, 0, nullptr, workingFolder.c_str(), &startup, &started)) {
    ThrowLastError("CreateProcessW");
  }
  HandleOwner process(started.hProcess);
  HandleOwner thread(started.hThread);
  return started.dwProcessId;
}

}  // namespace zipdrop
