#include "fuzz/fuzz_sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "fuzz/fuzz_invariant.h"
#include "platform/platform_error.h"
#include "platform/posix/folder_removal.h"
#include "platform/posix/unique_fd.h"

namespace zipdrop {

namespace {

// The folders between the sandbox and the destination, relative to the sandbox.
const std::vector<std::string> kChain = {"o1", "o1/o2", "o1/o2/o3", "o1/o2/o3/o4",
                                         "o1/o2/o3/o4/destination"};
const std::string kDestination = kChain.back();
const std::string kArchiveName = "archive.zip";
const std::string kTemporaryPrefix = ".zipdrop-";

struct TreeEntry {
  std::string path;  // Relative to the walked folder.
  mode_t mode;
};

// Opens a folder without following a link. A folder the archive made without permissions is
// opened up first, as the removal with force would do.
UniqueFd OpenFolder(int parentFd, const char* name) {
  int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd folder(openat(parentFd, name, flags));
  if (!folder.Valid() && errno == EACCES && fchmodat(parentFd, name, 0700, 0) == 0) {
    folder.Reset(openat(parentFd, name, flags));
  }
  return folder;
}

// Lists everything below the folder, links not followed. One descriptor is held per level, so
// the fuzzer raises its descriptor limit for the deepest trees a short input can make.
void ListTree(int folderFd, const std::string& prefix, std::vector<TreeEntry>& out) {
  DIR* dir = fdopendir(fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
  if (dir == nullptr) Violation("cannot list a folder in the sandbox", prefix);
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    if (fstatat(dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      Violation("cannot inspect an entry in the sandbox", prefix + name);
    }
    out.push_back({prefix + name, info.st_mode});
    if (S_ISDIR(info.st_mode)) {
      UniqueFd child = OpenFolder(dirfd(dir), name.c_str());
      if (!child.Valid()) Violation("cannot open a folder in the sandbox", prefix + name);
      ListTree(child.Get(), prefix + name + "/", out);
    }
  }
  closedir(dir);
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

void CheckInsideDestination(const TreeEntry& entry) {
  if (BaseName(entry.path).starts_with(kTemporaryPrefix)) {
    Violation("a temporary file was left behind", entry.path);
  }
  if (!S_ISREG(entry.mode) && !S_ISDIR(entry.mode)) {
    Violation("the destination holds something other than a file or folder", entry.path);
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

FuzzSandbox::FuzzSandbox(std::string_view archiveBytes) : archiveBytes_(archiveBytes) {
  std::string templ = (std::filesystem::temp_directory_path() / "zipdrop-fuzz-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) Violation("cannot make the sandbox", templ);
  root_ = templ;
  for (const std::string& folder : kChain) std::filesystem::create_directory(root_ + "/" + folder);
  destination_ = root_ + "/" + kDestination;
  archivePath_ = root_ + "/" + kArchiveName;
  std::ofstream file(archivePath_, std::ios::binary);
  file.write(archiveBytes_.data(), static_cast<std::streamsize>(archiveBytes_.size()));
  if (!file.flush()) Violation("cannot write the archive", archivePath_);
}

FuzzSandbox::~FuzzSandbox() {
  if (removed_) return;
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void FuzzSandbox::CheckAfterExtraction() const {
  UniqueFd root(open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root.Valid()) Violation("the sandbox is gone", root_);
  std::vector<TreeEntry> entries;
  ListTree(root.Get(), "", entries);
  std::set<std::string> expected(kChain.begin(), kChain.end());
  expected.insert(kArchiveName);
  size_t outsideCount = 0;
  for (const TreeEntry& entry : entries) {
    if (entry.path.starts_with(kDestination + "/")) {
      CheckInsideDestination(entry);
    } else if (!expected.count(entry.path)) {
      Violation("something appeared outside the destination", root_ + "/" + entry.path);
    } else {
      ++outsideCount;
    }
  }
  if (outsideCount != expected.size()) Violation("something outside the destination went", root_);
  if (ReadWholeFile(archivePath_) != archiveBytes_) Violation("the archive changed", archivePath_);
}

void FuzzSandbox::RemoveAndCheck() {
  try {
    DeleteMatchingFolders(root_, true);
  } catch (const PlatformError& error) {
    Violation("the folder removal failed on an extracted tree", error.what());
  }
  struct stat info;
  if (lstat(root_.c_str(), &info) == 0 || errno != ENOENT) {
    Violation("the folder removal left the sandbox behind", root_);
  }
  removed_ = true;
}

}  // namespace zipdrop
