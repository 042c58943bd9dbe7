// Starting a program from a command line, without ever running one from an untrusted folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/windows/handler_path.h"

namespace zipdrop {

/// The full path CreateProcessW must run for the command line. A program named without any
/// folder is looked up in the system directory and then the Windows directory only; the result
/// is empty when the line names the program's folder itself, which is then taken as written.
/// Throws PlatformError when a bare name is in neither system folder.
std::wstring TrustedProgramPath(std::wstring_view commandLine);

/// For a command line that runs rundll32 with url.dll's FileProtocolHandler, the path that the
/// handler is to open, blanks around it dropped; nothing for any other command line.
std::optional<std::wstring> FileProtocolTarget(std::wstring_view commandLine);

/// For the folder handler's command line, the line with the folder's path in the form that the
/// handler receives unchanged (see HandlerFormOf); any other line as it is. Throws PlatformError
/// when the path names no existing folder or has no such form.
std::wstring WithHandlerFolderChecked(std::wstring_view commandLine,
                                      ShortFormReader readShortForm = &ShortFormOf);

/// Starts the command line, checked by WithHandlerFolderChecked, in the system folder with the
/// window-style code in its start-up information, and returns the new process's identifier. Does
/// not wait for the process. Throws PlatformError, starting nothing, when the check fails.
std::int64_t LaunchProcess(std::wstring_view commandLine, int windowStyle,
                           ShortFormReader readShortForm = &ShortFormOf);

}  // namespace zipdrop
