// Where programs are: the running one's own folder, and the ones named on a command line.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace zipdrop {

/// The absolute form of path with every link resolved, or nothing when it cannot be resolved.
std::optional<std::string> CanonicalPath(const std::string& path);

/// The folder part of an absolute path: "/a/b" gives "/a", "/a" gives "/".
std::string FolderOf(const std::string& path);

/// Folders that never supply a program, all in canonical form: every folder inside one of
/// `trees` at any depth (the program folder, which receives archives' files), and the `folders`
/// themselves (the current directory, which may be anywhere).
struct UntrustedPlaces {
  std::vector<std::string> trees;
  std::vector<std::string> folders;
};

/// Finds an executable regular file called name in the directories of searchPath (a PATH value)
/// and returns its canonical path. Only absolute entries that exist are searched, and none that
/// resolves into an untrusted place: a relative entry such as "." or "" would make the current
/// directory a source of programs.
std::optional<std::string> FindProgramOnPath(const std::string& name, std::string_view searchPath,
                                             const UntrustedPlaces& untrusted);

/// FindProgramOnPath over the environment's PATH, never finding a program anywhere inside
/// programFolder or in the current directory.
std::optional<std::string> FindTrustedProgram(const std::string& name,
                                              const std::string& programFolder);

/// A program found on PATH, held open so that the file started later can be checked to be the
/// file found now: while it is held, its inode cannot be freed and given to a replacement.
struct ChosenProgram {
  std::string path;  // Canonical: no link on the way, so only a replacement can change it.
  std::shared_ptr<UniqueFd> held;
};

/// FindTrustedProgram, with the identity of what it found.
std::optional<ChosenProgram> ChooseTrustedProgram(const std::string& name,
                                                  const std::string& programFolder);

/// True while the chosen path still names the very file that was chosen.
bool IsStillChosenFile(const ChosenProgram& program);

/// The folder that holds the running executable, links resolved, with no trailing separator
/// except for the root itself. argv0 is used only where /proc/self/exe is not available.
std::string ExecutableFolder(const std::string& argv0);

}  // namespace zipdrop
