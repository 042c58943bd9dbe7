#include "platform/posix/extractor/extraction_worker.h"

#include <optional>
#include <string_view>

#include "platform/posix/extractor/deflate_decoder.h"
#include "platform/posix/extractor/entry_kind.h"
#include "platform/posix/extractor/entry_names.h"
#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/passwords.h"
#include "platform/posix/extractor/read_ahead.h"
#include "platform/posix/extractor/read_at.h"

namespace zipdrop {

namespace {

// Streamed entries are written in blocks this large: few, large writes, and still a small part of
// the memory budget per worker.
constexpr std::size_t kBlockSize = 1024 * 1024;

std::optional<SkipReason> ReasonFromKind(EntryKind kind) {
  switch (kind) {
    case EntryKind::kLink:
      return SkipReason::kLink;
    case EntryKind::kSpecial:
      return SkipReason::kSpecialFile;
    case EntryKind::kFile:
    case EntryKind::kFolder:
      return std::nullopt;
  }
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

// A streamed entry's data that ends early once the work is to stop (an interrupt, or the user's
// Cancel), so that the run does not first finish a large entry: a user who cancelled must not
// wait for it. The unfinished file is then dropped unpublished, and counted as cancelled.
class StoppableData : public EntryData {
 public:
  StoppableData(EntryData& data, const SharedExtraction& shared) : data_(data), shared_(shared) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override {
    if (shared_.queue.Stopped() || (shared_.progress && shared_.progress->Cancelled())) return -1;
    return data_.Read(buffer, size);
  }

 private:
  EntryData& data_;
  const SharedExtraction& shared_;
};

class Worker {
 public:
  Worker(SharedExtraction& shared, std::vector<FolderFinish>& folders)
      : shared_(shared),
        foldersMade_(folders),
        inMemory_(shared.archiveFd),
        folders_(shared.destinationFd, shared.madeFolders),
        buffer_(kBlockSize) {}

  void Run() {
    while (std::optional<std::size_t> claimed = shared_.queue.Claim()) ExtractRange(*claimed);
  }

 private:
  void ExtractRange(std::size_t index);
  bool ExtractEntry(const CentralEntry& entry, ExtractionReport& report);
  std::optional<SkipReason> WriteEntry(const CentralEntry& entry, std::string_view name,
                                       ExtractionReport& report);
  std::optional<SkipReason> WriteFolder(const CentralEntry& entry, const EntryPath& path,
                                        ExtractionReport& report);
  std::optional<SkipReason> WriteFile(const CentralEntry& entry, const EntryPath& path);
  std::optional<SkipReason> WriteStream(const CentralEntry& entry, const EntryPath& path,
                                        EntryStream& stream);
  std::optional<SkipReason> WriteEncryptedFile(const CentralEntry& entry, const EntryPath& path,
                                               std::string_view name);

  SharedExtraction& shared_;
  EntryAttributes FileAttributes(const CentralEntry& entry) const {
    return {PermissionsOf(entry, EntryKind::kFile), ModificationTime(entry), entry.uncompressedSize,
            shared_.progress};
  }
  bool Cancelled() const { return shared_.progress && shared_.progress->Cancelled(); }

  std::vector<FolderFinish>& foldersMade_;
  InMemoryDecoder inMemory_;
  DecoderSet decoders_;
  FolderCache folders_;
  std::vector<char> buffer_;
  std::vector<unsigned char> input_;
};

void Worker::ExtractRange(std::size_t index) {
  const EntryRange& range = shared_.ranges[index];
  RangeOutcome& outcome = shared_.outcomes[index];
  outcome.notAttemptedFrom = range.begin;
  for (std::size_t i = range.begin; i < range.end; ++i) {
    if (shared_.queue.Stopped() || Cancelled()) return;
    if (!ExtractEntry(shared_.directory.entries[i], outcome.report)) return;
    outcome.notAttemptedFrom = i + 1;
  }
}

// Extracts or skips one entry; false once the disk is full. Later entries are then not
// attempted: each would fail the same way, and a disk kept full by us hurts everything else the
// user runs.
bool Worker::ExtractEntry(const CentralEntry& entry, ExtractionReport& report) {
  std::string name = DecodeEntryName(shared_.directory.NameOf(entry));
  std::optional<SkipReason> reason = WriteEntry(entry, name, report);
  // An entry cut short by Cancel is counted as cancelled.
  if (reason && Cancelled()) reason = SkipReason::kCancelled;
  if (reason == SkipReason::kDiskFull) {
    shared_.queue.Stop(StopReason::kDiskFull);
    return false;
  }
  if (reason) report.Skip(*reason, name);
  return true;
}

// Writes the entry; returns the reason when it was skipped.
std::optional<SkipReason> Worker::WriteEntry(const CentralEntry& entry, std::string_view name,
                                             ExtractionReport& report) {
  // Most tools that show the name stop at a NUL, so the name the user would see is not the one
  // that would be written.
  if (name.find('\0') != std::string_view::npos) return SkipReason::kUnusableName;
  EntryKind kind = KindOf(entry, name);
  if (auto reason = ReasonFromKind(kind)) return reason;
  EntryPath path = SplitEntryPath(name);
  // A folder entry "./" names the destination itself, which exists: nothing is left to do.
  if (kind == EntryKind::kFolder && path.problem == NameProblem::kEmpty) return std::nullopt;
  if (auto reason = ReasonFromName(path)) return reason;
  if (kind == EntryKind::kFolder) return WriteFolder(entry, path, report);
  std::optional<SkipReason> reason =
      entry.IsEncrypted() ? WriteEncryptedFile(entry, path, name) : WriteFile(entry, path);
  if (!reason) ++report.filesWritten;
  return reason;
}

std::optional<SkipReason> Worker::WriteFolder(const CentralEntry& entry, const EntryPath& path,
                                              ExtractionReport& report) {
  FolderEntryOutcome folder = WriteFolderEntry(
      shared_.destinationFd, path, PermissionsOf(entry, EntryKind::kFolder), shared_.madeFolders);
  if (folder.finalPermissions) {
    ++report.foldersCreated;
    foldersMade_.push_back({path.Joined(), ModificationTime(entry), *folder.finalPermissions});
  }
  return folder.skipped;
}

// Entries that fit in memory are read and decoded whole; the others are streamed through the
// decoder of their method, block by block.
std::optional<SkipReason> Worker::WriteFile(const CentralEntry& entry, const EntryPath& path) {
  EntryAttributes attributes = FileAttributes(entry);
  if (FitsInMemory(entry, shared_.inMemoryLimit)) {
    std::optional<std::span<const char>> content = inMemory_.Decode(entry);
    if (!content) return SkipReason::kUnreadableData;
    return WriteFileContent(folders_, path, attributes, *content);
  }
  MethodDecoder* decoder = decoders_.For(entry.method);
  if (decoder == nullptr) return SkipReason::kUnreadableData;
  EntryStream stream(shared_.archiveFd, entry, *decoder, input_);
  return WriteStream(entry, path, stream);
}

// Large entries are decoded (and decrypted) a block ahead on a second thread while the last
// block is written, when a core is spare.
std::optional<SkipReason> Worker::WriteStream(const CentralEntry& entry, const EntryPath& path,
                                              EntryStream& stream) {
  EntryAttributes attributes = FileAttributes(entry);
  if (entry.uncompressedSize >= shared_.readAheadSize) {
    ReadAhead ahead(stream, buffer_.size());
    StoppableData data(ahead, shared_);
    return WriteFileEntry(folders_, path, attributes, data, buffer_);
  }
  StoppableData data(stream, shared_);
  return WriteFileEntry(folders_, path, attributes, data, buffer_);
}

// Encrypted data is decrypted between its bytes and its decoder, always streamed. The content is
// checked (its CRC, or the authentication code) before the file is published, so a wrong
// password that passed the header's short check still leaves no file.
std::optional<SkipReason> Worker::WriteEncryptedFile(const CentralEntry& entry,
                                                     const EntryPath& path, std::string_view name) {
  if (shared_.passwords == nullptr) return SkipReason::kEncrypted;
  std::optional<EncryptedEntry> encrypted = ReadEncryptedEntry(shared_.archiveFd, entry);
  if (!encrypted) return SkipReason::kUnreadableData;
  SkipReason refused = SkipReason::kEncrypted;
  std::unique_ptr<EntryDecryption> decryption =
      shared_.passwords->Open(*encrypted, std::string(name), refused);
  if (!decryption) return refused;
  MethodDecoder* decoder = decoders_.For(encrypted->content.method);
  std::vector<unsigned char> trailer(encrypted->scheme.TrailerSize());
  if (decoder == nullptr || !ReadFullyAt(shared_.archiveFd, reinterpret_cast<char*>(trailer.data()),
                                         trailer.size(), encrypted->trailerOffset)) {
    return SkipReason::kUnreadableData;
  }
  EntryStream stream(shared_.archiveFd, encrypted->content, *decoder, input_);
  stream.Decrypt(*decryption, std::move(trailer), encrypted->crcKnown);
  return WriteStream(entry, path, stream);
}

}  // namespace

SharedExtraction::SharedExtraction(int archiveFd, const CentralDirectory& directory,
                                   int destinationFd, std::vector<EntryRange> ranges,
                                   std::uint64_t inMemoryLimit, std::uint64_t readAheadSize,
                                   ExtractionProgress* progress, PasswordKeeper* passwords)
    : archiveFd(archiveFd),
      directory(directory),
      destinationFd(destinationFd),
      ranges(std::move(ranges)),
      outcomes(this->ranges.size()),
      queue(this->ranges.size()),
      inMemoryLimit(inMemoryLimit),
      readAheadSize(readAheadSize),
      progress(progress),
      passwords(passwords) {
  for (std::size_t k = 0; k < this->ranges.size(); ++k) {
    outcomes[k].notAttemptedFrom = this->ranges[k].begin;
  }
}

void RunWorker(SharedExtraction& shared, std::vector<FolderFinish>& folders) {
  Worker(shared, folders).Run();
}

}  // namespace zipdrop
