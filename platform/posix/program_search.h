// Where programs are: the running one's own folder, and the ones named on a command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zipdrop {

/// The absolute form of path with every link resolved, or nothing when it cannot be resolved.
std::optional<std::string> CanonicalPath(const std::string& path);

/// The folder part of an absolute path: "/a/b" gives "/a", "/a" gives "/".
std::string FolderOf(const std::string& path);

/// Finds an executable regular file called name in the directories of searchPath (a PATH value).
/// Only absolute entries are searched, and none that resolves to one of untrustedFolders (given
/// in canonical form): a relative entry such as "." or "" would make the current directory a
/// source of programs.
std::optional<std::string> FindProgramOnPath(const std::string& name, std::string_view searchPath,
                                             const std::vector<std::string>& untrustedFolders);

/// FindProgramOnPath over the environment's PATH, never finding a program in programFolder or in
/// the current directory: the program folder has just received an archive's untrusted files,
/// and the current directory may be anywhere.
std::optional<std::string> FindTrustedProgram(const std::string& name,
                                              const std::string& programFolder);

/// The folder that holds the running executable, links resolved, with no trailing separator
/// except for the root itself. argv0 is used only where /proc/self/exe is not available.
std::string ExecutableFolder(const std::string& argv0);

}  // namespace zipdrop
