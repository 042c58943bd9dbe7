// The running program's own path, and the folder that holds it.
#pragma once

#include <string>
#include <string_view>

namespace zipdrop {

/// The full path of the running program, as GetModuleFileNameW gives it.
std::wstring ModulePath();

/// The folder part of a program's path. A folder at the root of a drive or volume keeps its
/// backslash: "C:" alone names the current folder of drive C, and "\\?\C:" the volume device,
/// neither of them the root folder. Throws PlatformError for a path without any folder.
std::wstring FolderOfModule(std::wstring_view modulePath);

}  // namespace zipdrop
