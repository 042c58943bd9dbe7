// Where a downloaded archive came from, carried onto the files extracted from it. Browsers on
// Linux record a download's address in the user.xdg.origin.url and user.xdg.referrer.url extended
// attributes, as Windows marks a download with its zone; Windows passes that mark on to every
// file taken out of the archive, so that its warnings follow them, and this does the same here.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zipdrop {

class DownloadOrigin {
 public:
  /// The attributes that the open file archiveFd carries; none where the file system keeps no
  /// user attributes or the browser set none.
  static DownloadOrigin Read(int archiveFd);

  /// Sets the attributes on the open file fd, which this run created. Quietly does nothing where
  /// the file system refuses user attributes: the mark is worth less than the file.
  void Mark(int fd) const;

 private:
  std::vector<std::pair<const char*, std::string>> attributes_;
};

}  // namespace zipdrop
