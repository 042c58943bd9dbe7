#include "platform/posix/program_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/platform_error.h"

namespace zipdrop {

std::optional<std::string> CanonicalPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool IsInsideTree(const std::string& path, const std::string& tree) {
  if (path.compare(0, tree.size(), tree) != 0) return false;
  return path.size() == tree.size() || tree == "/" || path[tree.size()] == '/';
}

// Returns the canonical form of a PATH entry that may supply programs. A folder that does not
// exist is passed over: it might be made later by the very archive being extracted (think of
// ~/.local/bin with the program kept in the home folder).
std::optional<std::string> TrustedSearchFolder(const std::string& folder,
                                               const UntrustedPlaces& untrusted) {
  if (folder.empty() || folder[0] != '/') return std::nullopt;
  std::optional<std::string> canonical = CanonicalPath(folder);
  if (!canonical) return std::nullopt;
  for (const std::string& tree : untrusted.trees) {
    if (IsInsideTree(*canonical, tree)) return std::nullopt;
  }
  if (std::find(untrusted.folders.begin(), untrusted.folders.end(), *canonical) !=
      untrusted.folders.end()) {
    return std::nullopt;
  }
  return canonical;
}

}  // namespace

std::optional<std::string> FindProgramOnPath(const std::string& name, std::string_view searchPath,
                                             const UntrustedPlaces& untrusted) {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  size_t start = 0;
  while (start <= searchPath.size()) {
    size_t end = std::min(searchPath.find(':', start), searchPath.size());
    std::string folder(searchPath.substr(start, end - start));
    start = end + 1;
    std::optional<std::string> trusted = TrustedSearchFolder(folder, untrusted);
    if (!trusted) continue;
    std::string candidate = *trusted + (trusted->back() == '/' ? "" : "/") + name;
    if (!IsExecutableFile(candidate)) continue;
    // A link in a trusted folder may still point into an untrusted one.
    std::optional<std::string> target = CanonicalPath(candidate);
    if (target && TrustedSearchFolder(FolderOf(*target), untrusted)) return target;
  }
  return std::nullopt;
}

std::optional<std::string> FindTrustedProgram(const std::string& name,
                                              const std::string& programFolder) {
  UntrustedPlaces untrusted;
  if (std::optional<std::string> canonical = CanonicalPath(programFolder)) {
    untrusted.trees.push_back(*canonical);
  }
  if (std::optional<std::string> canonical = CanonicalPath(".")) {
    untrusted.folders.push_back(*canonical);
  }
  const char* searchPath = std::getenv("PATH");
  return FindProgramOnPath(name, searchPath ? searchPath : "", untrusted);
}

std::optional<ChosenProgram> ChooseTrustedProgram(const std::string& name,
                                                  const std::string& programFolder) {
  std::optional<std::string> path = FindTrustedProgram(name, programFolder);
  if (!path) return std::nullopt;
  auto held = std::make_shared<UniqueFd>(open(path->c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!held->Valid()) return std::nullopt;
  return ChosenProgram{*path, std::move(held)};
}

bool IsStillChosenFile(const ChosenProgram& program) {
  struct stat named, held;
  return lstat(program.path.c_str(), &named) == 0 && fstat(program.held->Get(), &held) == 0 &&
         S_ISREG(named.st_mode) && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

std::string ExecutableFolder(const std::string& argv0) {
  // Linux names the running file in /proc; elsewhere argv[0] is the best hint there is, taken
  // as a path when it has a separator and looked up on PATH as the shell did when it has none.
  std::optional<std::string> executable = CanonicalPath("/proc/self/exe");
  if (!executable && argv0.find('/') != std::string::npos) executable = CanonicalPath(argv0);
  if (!executable) {
    const char* searchPath = std::getenv("PATH");
    std::optional<std::string> found = FindProgramOnPath(argv0, searchPath ? searchPath : "", {});
    if (found) executable = CanonicalPath(*found);
  }
  if (!executable) throw PlatformError("cannot tell where the running program is");
  return FolderOf(*executable);
}

}  // namespace zipdrop
