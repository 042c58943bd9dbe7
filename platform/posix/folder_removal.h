// What "deletefolder" does on POSIX: removal of whole folder trees picked by a wildcard name.
#pragma once

#include <string>

namespace zipdrop {

/// Removes, with all their contents, the folders directly inside the pattern's parent folder
/// whose names match the pattern's last component. Only that component may hold wildcards:
/// '*' (any run of characters) and '?' (any one character); every other character, '[' and '\'
/// included, stands for itself. As on Windows, a wildcard also matches a leading '.', so "*"
/// takes hidden folders too (but never "." or ".."). Files and symbolic links that match are
/// left alone, and a link met inside a removed folder is removed as a link, its target untouched.
/// force also removes read-only files and folders; without it the first one stops the removal.
/// Throws PlatformError when no folder matches or one cannot be removed.
void DeleteMatchingFolders(const std::string& pattern, bool force);

}  // namespace zipdrop
