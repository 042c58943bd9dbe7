// What an entry is, with its permissions and time, as the central directory describes it.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string_view>

#include "platform/posix/extractor/central_directory.h"

namespace zipdrop {

enum class EntryKind { kFile, kFolder, kLink };

/// A folder is named with a trailing slash, or marked so by its attributes; a Unix mode can also
/// make it a symlink, which is never created. A mode that says device, FIFO or socket makes a
/// regular file: such an entry holds data (`zip` reading from a pipe records the pipe's own
/// mode), and a special file is never created.
EntryKind KindOf(const CentralEntry& entry, std::string_view name);

/// Unix hosts store a full st_mode; every other host leaves the permissions to the extractor, and
/// like the Windows shell we then let the user's umask alone decide.
mode_t PermissionsOf(const CentralEntry& entry, EntryKind kind);

/// The entry's modification time: the extended timestamp when there is one, else the DOS time,
/// which is local time. Nothing when the DOS date is invalid.
std::optional<timespec> ModificationTime(const CentralEntry& entry);

}  // namespace zipdrop
