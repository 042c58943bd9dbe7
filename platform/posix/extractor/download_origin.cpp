#include "platform/posix/extractor/download_origin.h"

#include <sys/stat.h>
#include <sys/xattr.h>

namespace zipdrop {

namespace {

constexpr const char* kOriginAttributes[] = {"user.xdg.origin.url", "user.xdg.referrer.url"};

// Longer than any address a browser records; a larger value is not read rather than cut short.
constexpr std::size_t kLongestValue = 64 * 1024;

}  // namespace

DownloadOrigin DownloadOrigin::Read(int archiveFd) {
  DownloadOrigin origin;
  for (const char* name : kOriginAttributes) {
    std::string value(kLongestValue, '\0');
    ssize_t size = fgetxattr(archiveFd, name, value.data(), value.size());
    if (size < 0) continue;
    value.resize(static_cast<std::size_t>(size));
    origin.attributes_.emplace_back(name, std::move(value));
  }
  return origin;
}

void DownloadOrigin::Mark(int fd) const {
  if (attributes_.empty()) return;
  // User attributes need write permission on the file itself, not only a descriptor open for
  // writing, so a read-only entry is opened up for the moment. The file has no name yet (or only
  // a hidden one), so no one else sees it in that state.
  struct stat status;
  bool readOnly = fstat(fd, &status) == 0 && (status.st_mode & S_IWUSR) == 0;
  if (readOnly) fchmod(fd, status.st_mode | S_IWUSR);
  // A file system without user attributes answers ENOTSUP, and one that allows them only to
  // some (a network share's server) EPERM or EACCES; the file stays as it is then.
  for (const auto& [name, value] : attributes_) {
    fsetxattr(fd, name, value.data(), value.size(), 0);
  }
  if (readOnly) fchmod(fd, status.st_mode & 07777);
}

}  // namespace zipdrop
