#include "platform/posix/extraction_worker.h"

#include <archive_entry.h>

#include <algorithm>
#include <optional>
#include <string_view>

#include "platform/posix/archive_reader.h"
#include "platform/posix/deflate_decoder.h"
#include "platform/posix/entry_names.h"
#include "platform/posix/entry_writer.h"

namespace zipdrop {

namespace {

// Streamed entries are copied through a block this large: fewer, larger writes than libarchive's
// own blocks, and still a small part of the memory budget per worker.
constexpr std::size_t kBlockSize = 1024 * 1024;

// The reason a header alone rules the entry out, before its name is looked at.
std::optional<SkipReason> ReasonFromHeader(const EntryHeader& header) {
  if (header.isHardlink || header.type == AE_IFLNK) return SkipReason::kLink;
  if (header.type != AE_IFREG && header.type != AE_IFDIR) return SkipReason::kSpecialFile;
  if (header.isEncrypted) return SkipReason::kEncrypted;
  return std::nullopt;
}

std::optional<SkipReason> ReasonFromName(const EntryPath& path) {
  switch (path.problem) {
    case NameProblem::kLeavesFolder:
      return SkipReason::kLeavesFolder;
    case NameProblem::kEmpty:
      return SkipReason::kEmptyName;
    case NameProblem::kUnusable:
      return SkipReason::kUnusableName;
    case NameProblem::kNone:
      return std::nullopt;
  }
  return std::nullopt;
}

// Unix hosts store a full st_mode; every other host leaves the permissions to the extractor, and
// like the Windows shell we then let the user's umask alone decide.
mode_t PermissionsOf(const EntryHeader& header, const CentralEntry& entry) {
  if (entry.HasUnixMode()) return header.permissions;
  return header.type == AE_IFDIR ? 0777 : 0666;
}

bool IsSlash(char c) { return c == '/' || c == '\\'; }

// Whether libarchive's name is the central directory's, give or take what libarchive changes: it
// turns the backslashes of names made on Windows into slashes and adds a slash to folders.
bool IsSameEntryName(std::string_view fromReader, std::string_view central) {
  while (!fromReader.empty() && IsSlash(fromReader.back())) fromReader.remove_suffix(1);
  while (!central.empty() && IsSlash(central.back())) central.remove_suffix(1);
  return std::equal(fromReader.begin(), fromReader.end(), central.begin(), central.end(),
                    [](char a, char b) { return a == b || (IsSlash(a) && IsSlash(b)); });
}

// A streamed entry's data that ends early once the work is to stop, so that an interrupted run
// does not first finish a large entry. The unfinished file is then dropped unpublished.
class StoppableData : public EntryData {
 public:
  StoppableData(EntryData& data, const RangeQueue& queue) : data_(data), queue_(queue) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override {
    return queue_.Stopped() ? -1 : data_.Read(buffer, size);
  }

 private:
  EntryData& data_;
  const RangeQueue& queue_;
};

class Worker {
 public:
  Worker(SharedExtraction& shared, ArchiveReader& reader, std::vector<FolderFinish>& folders)
      : shared_(shared),
        reader_(reader),
        folders_made_(folders),
        decoder_(shared.archiveFd),
        folders_(shared.destinationFd, shared.madeFolders),
        buffer_(kBlockSize) {}

  void Run() {
    while (std::optional<std::size_t> claimed = shared_.queue.Claim()) {
      if (!ExtractRange(*claimed)) return;
    }
  }

 private:
  bool ExtractRange(std::size_t index);
  bool WalkTo(std::size_t entryIndex);
  bool ExtractEntry(std::size_t entryIndex, RangeOutcome& outcome);
  bool IsPairedWith(const CentralEntry& entry) const;
  bool Cancelled() const { return shared_.progress && shared_.progress->Cancelled(); }
  bool CheckNothingFollows();
  std::optional<SkipReason> WriteEntry(const CentralEntry& entry, const EntryPath& path);
  std::optional<SkipReason> WriteFile(const CentralEntry& entry, const EntryPath& path,
                                      mode_t permissions);

  SharedExtraction& shared_;
  ArchiveReader& reader_;
  std::vector<FolderFinish>& folders_made_;
  InMemoryDecoder decoder_;
  FolderCache folders_;
  std::vector<char> buffer_;
  RangeOutcome* outcome_ = nullptr;  // Of the range being extracted.
  EntryHeader header_;
  std::size_t position_ = 0;  // The index of the entry libarchive returns next.
};

// Extracts one claimed range; false when this worker cannot go on.
bool Worker::ExtractRange(std::size_t index) {
  const EntryRange& range = shared_.ranges[index];
  RangeOutcome& outcome = shared_.outcomes[index];
  outcome.notAttemptedFrom = range.begin;
  outcome_ = &outcome;
  // A header that cannot be walked past lies in an earlier range, whose worker meets it too and
  // stops everyone; this worker only ends.
  if (!WalkTo(range.begin)) return false;
  for (std::size_t i = range.begin; i < range.end; ++i) {
    if (shared_.queue.Stopped() || Cancelled() || !ExtractEntry(i, outcome)) return false;
    outcome.notAttemptedFrom = i + 1;
  }
  if (range.end == shared_.directory.entries.size()) return CheckNothingFollows();
  return true;
}

// Reads the headers of the entries other workers extract, leaving their data unread: the seekable
// reader then jumps straight to the next header.
bool Worker::WalkTo(std::size_t entryIndex) {
  for (; position_ < entryIndex; ++position_) {
    ReadStatus status = reader_.NextEntry(header_);
    if (status == ReadStatus::kEnd || status == ReadStatus::kDamaged) return false;
  }
  return true;
}

// libarchive listing more entries than the central directory the pre-scan read means the two
// disagree about the archive: it is treated as damaged, as an entry missing would be.
bool Worker::CheckNothingFollows() {
  if (reader_.NextEntry(header_) == ReadStatus::kEnd) return true;
  shared_.queue.Stop(StopReason::kDamaged);
  return false;
}

// libarchive's entries come in local-header-offset order, as the pre-scan sorted them; the names
// confirm the pairing where they can. A Unicode path field renames the entry, and an entry whose
// local name differs is skipped anyway. libarchive cuts a name at a NUL byte.
bool Worker::IsPairedWith(const CentralEntry& entry) const {
  if (entry.localNameDiffers || entry.hasUnicodePath) return true;
  std::string_view name = shared_.directory.NameOf(entry);
  return IsSameEntryName(header_.rawName, name.substr(0, name.find('\0')));
}

// Extracts or skips one entry; false once the work must stop: the archive cannot be read (or
// trusted) any further, or the disk is full.
bool Worker::ExtractEntry(std::size_t entryIndex, RangeOutcome& outcome) {
  ReadStatus status = reader_.NextEntry(header_);
  ++position_;
  if (status == ReadStatus::kEnd || status == ReadStatus::kDamaged) {
    return shared_.queue.Stop(StopReason::kDamaged), false;
  }
  const CentralEntry& entry = shared_.directory.entries[entryIndex];
  std::string name = DecodeEntryName(header_.rawName);
  std::optional<SkipReason> reason = SkipReason::kBadHeader;
  if (status == ReadStatus::kEntry) {
    if (!IsPairedWith(entry)) return shared_.queue.Stop(StopReason::kDamaged), false;
    reason = WriteEntry(entry, SplitEntryPath(name));
  }
  // An interrupted entry is not counted: it is left for the entries not attempted.
  if (shared_.queue.Reason() == StopReason::kInterrupted) return false;
  // Once the disk is full, later entries are not attempted: each would fail the same way, and a
  // disk kept full by us hurts everything else the user runs.
  if (reason == SkipReason::kDiskFull) return shared_.queue.Stop(StopReason::kDiskFull), false;
  if (reason) outcome.report.Skip(*reason, name);
  if (!reader_.Damaged()) return true;
  return shared_.queue.Stop(StopReason::kDamaged), false;
}

// Writes the entry whose header was just read; returns the reason when it was skipped.
std::optional<SkipReason> Worker::WriteEntry(const CentralEntry& entry, const EntryPath& path) {
  if (entry.localNameDiffers) return SkipReason::kNamesDisagree;
  // libarchive hands names over as C strings, so it would cut this one short at the NUL.
  if (shared_.directory.NameOf(entry).find('\0') != std::string_view::npos) {
    return SkipReason::kUnusableName;
  }
  if (auto reason = ReasonFromHeader(header_)) return reason;
  // A folder entry "./" names the destination itself, which exists: nothing is left to do.
  if (header_.type == AE_IFDIR && path.problem == NameProblem::kEmpty) return std::nullopt;
  if (auto reason = ReasonFromName(path)) return reason;
  mode_t permissions = PermissionsOf(header_, entry);
  if (header_.type != AE_IFDIR) return WriteFile(entry, path, permissions);
  FolderEntryOutcome folder =
      WriteFolderEntry(shared_.destinationFd, path, permissions, shared_.madeFolders);
  if (folder.finalPermissions) {
    ++outcome_->report.foldersCreated;
    folders_made_.push_back({path.Joined(), header_.mtime, *folder.finalPermissions});
  }
  return folder.skipped;
}

// Entries that fit in memory are read and decoded by us, with libarchive's data left unread;
// larger ones and other methods are streamed by libarchive.
std::optional<SkipReason> Worker::WriteFile(const CentralEntry& entry, const EntryPath& path,
                                            mode_t permissions) {
  EntryAttributes attributes{permissions, header_.mtime, entry.uncompressedSize, shared_.progress};
  std::optional<SkipReason> reason;
  if (FitsInMemory(entry, shared_.inMemoryLimit)) {
    std::optional<std::span<const char>> content = decoder_.Decode(entry);
    if (!content) return SkipReason::kUnreadableData;
    reason = WriteFileContent(folders_, path, attributes, *content);
  } else {
    StoppableData data(reader_, shared_.queue);
    reason = WriteFileEntry(folders_, path, attributes, data, buffer_);
  }
  if (!reason) ++outcome_->report.filesWritten;
  return reason;
}

}  // namespace

void RunWorker(SharedExtraction& shared, ArchiveReader& reader, std::vector<FolderFinish>& folders) {
  Worker(shared, reader, folders).Run();
}

}  // namespace zipdrop
