#include "platform/posix/program_search.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/platform_services.h"

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

bool IsTrustedSearchFolder(const std::string& folder,
                           const std::vector<std::string>& untrustedFolders) {
  if (folder.empty() || folder[0] != '/') return false;
  std::optional<std::string> canonical = CanonicalPath(folder);
  if (!canonical) return false;
  return std::find(untrustedFolders.begin(), untrustedFolders.end(), *canonical) ==
         untrustedFolders.end();
}

}  // namespace

std::optional<std::string> FindProgramOnPath(const std::string& name, std::string_view searchPath,
                                             const std::vector<std::string>& untrustedFolders) {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  size_t start = 0;
  while (start <= searchPath.size()) {
    size_t end = std::min(searchPath.find(':', start), searchPath.size());
    std::string folder(searchPath.substr(start, end - start));
    start = end + 1;
    if (!IsTrustedSearchFolder(folder, untrustedFolders)) continue;
    std::string candidate = folder + (folder.back() == '/' ? "" : "/") + name;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> FindTrustedProgram(const std::string& name,
                                              const std::string& programFolder) {
  std::vector<std::string> untrusted;
  for (const std::string& folder : {programFolder, std::string(".")}) {
    if (std::optional<std::string> canonical = CanonicalPath(folder)) untrusted.push_back(*canonical);
  }
  const char* searchPath = std::getenv("PATH");
  return FindProgramOnPath(name, searchPath ? searchPath : "", untrusted);
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
