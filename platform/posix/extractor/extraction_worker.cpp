#include "platform/posix/extractor/extraction_worker.h"

#include <optional>
#include <string_view>

#include "platform/posix/extractor/decoder_set.h"
#include "platform/posix/extractor/entry_kind.h"
#include "platform/posix/extractor/entry_layout.h"
#include "platform/posix/extractor/entry_stream.h"
#include "platform/posix/extractor/in_memory_decoder.h"
#include "platform/posix/extractor/isal_library.h"
#include "platform/posix/extractor/parallel_inflate.h"
#include "platform/posix/extractor/passwords.h"
#include "platform/posix/extractor/read_ahead.h"
#include "platform/posix/extractor/read_at.h"
#include "platform/posix/extractor/zip_records.h"

namespace zipdrop {

namespace {

// Streamed entries are written in blocks this large: few, large writes, and still a small part of
// the memory budget per worker.
constexpr std::size_t kBlockSize = 1024 * 1024;

// A streamed entry's data that ends early once the work is to stop (an interrupt, the user's
// Cancel, or a full disk met by another worker), so that the run does not first finish a large
// entry: a user who cancelled must not wait for it. The unfinished file is then dropped
// unpublished, and counted under the reason of the stop, not as damaged.
class StoppableData : public EntryData {
 public:
  StoppableData(EntryData& data, const SharedExtraction& shared) : data_(data), shared_(shared) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override {
    cut_ = shared_.queue.Stopped() || (shared_.progress && shared_.progress->Cancelled());
    return cut_ ? -1 : data_.Read(buffer, size);
  }
  bool Cut() const { return cut_; }

 private:
  EntryData& data_;
  const SharedExtraction& shared_;
  bool cut_ = false;
};

// A large entry's data, decoded a block ahead on a second thread once a core has nothing else to
// do: from the start when this is the only worker, or from the moment the other workers have run
// out of entries (an archive of one large file and its folder gets two workers, and one of them
// ends at once). Until then the decoder runs on this thread, between the writes. The source is
// read only by this thread until the second one starts, and only by that one afterwards. The
// CRC-32 is taken here, on the writer's side: the decoder alone is the longer half of the work.
class OverlappedData : public EntryData {
 public:
  OverlappedData(EntryStream& source, const SharedExtraction& shared, std::size_t blockSize,
                 bool large)
      : source_(source), shared_(shared), blockSize_(blockSize), large_(large) {
    source_.LeaveCrcToReader();
  }
  std::ptrdiff_t Read(char* buffer, std::size_t size) override {
    if (!ahead_ && large_ && shared_.CoreSpare()) ahead_.emplace(source_, blockSize_);
    std::ptrdiff_t count = ahead_ ? ahead_->Read(buffer, size) : source_.Read(buffer, size);
    if (count > 0) crc_ = ZipCrc32(std::string_view(buffer, static_cast<std::size_t>(count)), crc_);
    if (count == 0 && !source_.CrcMatches(crc_)) return -1;
    return count;
  }

 private:
  EntryStream& source_;
  const SharedExtraction& shared_;
  std::size_t blockSize_;
  bool large_;
  std::uint32_t crc_ = 0;
  std::optional<ReadAhead> ahead_;
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
    shared_.WorkerDone();
  }

 private:
  void ExtractRange(std::size_t index);
  bool ExtractEntry(std::size_t index, ExtractionReport& report);
  std::optional<SkipReason> WriteEntry(std::size_t index, ExtractionReport& report);
  std::optional<SkipReason> WriteFolder(const CentralEntry& entry, const EntryPath& path,
                                        ExtractionReport& report);
  std::optional<SkipReason> WriteFile(const CentralEntry& entry, std::uint64_t bound,
                                      const PlannedEntry& planned);
  std::optional<SkipReason> WriteFileAs(const CentralEntry& entry, const PlannedEntry& planned);
  std::optional<SkipReason> WriteStream(const CentralEntry& entry, const PlannedEntry& planned,
                                        EntryStream& stream);
  MethodDecoder* DecoderFor(const CentralEntry& entry);
  std::optional<SkipReason> WriteEncryptedFile(const CentralEntry& entry,
                                               const PlannedEntry& planned);

  SharedExtraction& shared_;
  EntryAttributes FileAttributes(const CentralEntry& entry, const PlannedEntry& planned) const {
    return {PermissionsOf(entry, EntryKind::kFile),
            ModificationTime(entry),
            entry.uncompressedSize,
            shared_.progress,
            &shared_.origin,
            planned.replaces};
  }
  bool Cancelled() const { return shared_.progress && shared_.progress->Cancelled(); }
  bool Stopping() const { return shared_.queue.Stopped() || Cancelled(); }

  std::vector<FolderFinish>& foldersMade_;
  InMemoryDecoder inMemory_;
  DecoderSet decoders_;
  std::optional<ParallelInflateDecoder> parallel_;
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
    if (!ExtractEntry(i, outcome.report)) return;
    outcome.notAttemptedFrom = i + 1;
  }
}

// Extracts or skips one entry; false once the disk is full. Later entries are then not
// attempted: each would fail the same way, and a disk kept full by us hurts everything else the
// user runs.
bool Worker::ExtractEntry(std::size_t index, ExtractionReport& report) {
  std::optional<SkipReason> reason = WriteEntry(index, report);
  // An entry cut short by Cancel is counted as cancelled.
  if (reason && Cancelled()) reason = SkipReason::kCancelled;
  if (reason == SkipReason::kDiskFull) {
    shared_.queue.Stop(StopReason::kDiskFull);
    return false;
  }
  if (reason) report.Skip(*reason, shared_.plan[index].name);
  return true;
}

// Writes the entry as planned; returns the reason when it was skipped.
std::optional<SkipReason> Worker::WriteEntry(std::size_t index, ExtractionReport& report) {
  const CentralEntry& entry = shared_.directory.entries[index];
  const PlannedEntry& planned = shared_.plan[index];
  if (planned.step == EntryStep::kNothing) return std::nullopt;
  if (planned.step == EntryStep::kSkip) return planned.skipped;
  if (planned.kind == EntryKind::kFolder) return WriteFolder(entry, planned.path, report);
  std::optional<SkipReason> reason =
      entry.IsEncrypted() ? WriteEncryptedFile(entry, planned)
                          : WriteFile(entry, DataBound(shared_.directory, index), planned);
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

// Where the central directory's method, sizes or CRC fail to decode the data, the local header's
// are tried, as other readers go by them: writers that patch one header and not the other leave
// either one wrong. Whichever reading is written still decoded to its size and matched its CRC.
std::optional<SkipReason> Worker::WriteFile(const CentralEntry& entry, std::uint64_t bound,
                                            const PlannedEntry& planned) {
  std::optional<SkipReason> reason = WriteFileAs(entry, planned);
  if (reason != SkipReason::kUnreadableData || shared_.queue.Stopped() || Cancelled()) {
    return reason;
  }
  std::optional<CentralEntry> local = LocalReading(shared_.archiveFd, entry, bound);
  return local ? WriteFileAs(*local, planned) : reason;
}

// Entries that fit in memory are read and decoded whole; the others are streamed through the
// decoder of their method, block by block.
std::optional<SkipReason> Worker::WriteFileAs(const CentralEntry& entry,
                                              const PlannedEntry& planned) {
  if (FitsInMemory(entry, shared_.inMemoryLimit)) {
    std::optional<std::span<const char>> content = inMemory_.Decode(entry);
    if (!content) return SkipReason::kUnreadableData;
    return WriteFileContent(folders_, planned.path, FileAttributes(entry, planned), *content);
  }
  MethodDecoder* decoder = DecoderFor(entry);
  if (decoder == nullptr) return SkipReason::kUnreadableData;
  EntryStream stream(shared_.archiveFd, entry, *decoder, input_);
  return WriteStream(entry, planned, stream);
}

// A large deflated entry takes helper threads when cores are left over once this worker's
// decoder and writer have theirs (parallel_inflate.h).
MethodDecoder* Worker::DecoderFor(const CentralEntry& entry) {
  const IsalInflate* isal = LoadIsalInflate();
  std::size_t spare = shared_.CoreSpare() ? shared_.Cores() - 1 : 0;
  std::size_t helpers =
      entry.method == kMethodDeflate && isal != nullptr
          ? ParallelInflateHelpers(entry.compressedSize, entry.uncompressedSize, spare)
          : 0;
  if (helpers == 0) return decoders_.For(entry.method);
  ParallelInflateTuning tuning;
  tuning.helpers = helpers;
  parallel_.emplace(shared_.archiveFd, *isal, tuning);
  return &*parallel_;
}

// Large entries are decoded (and decrypted) a block ahead on a second thread while the last
// block is written, once a core is spare. An entry cut short by a full disk elsewhere is counted
// with the entries not attempted after it.
std::optional<SkipReason> Worker::WriteStream(const CentralEntry& entry,
                                              const PlannedEntry& planned, EntryStream& stream) {
  OverlappedData overlapped(stream, shared_, buffer_.size(),
                            entry.uncompressedSize >= shared_.readAheadSize);
  StoppableData data(overlapped, shared_);
  std::optional<SkipReason> reason =
      WriteFileEntry(folders_, planned.path, FileAttributes(entry, planned), data, buffer_);
  bool diskFull = shared_.queue.Reason() == StopReason::kDiskFull;
  return reason && data.Cut() && diskFull ? SkipReason::kDiskFull : reason;
}

// Encrypted data is decrypted between its bytes and its decoder, always streamed. The content is
// checked (its CRC, or the authentication code) before the file is published, so a wrong
// password that passed the header's short check still leaves no file; the entry is then opened
// again with another password, unless the one it failed with was proven right elsewhere.
std::optional<SkipReason> Worker::WriteEncryptedFile(const CentralEntry& entry,
                                                     const PlannedEntry& planned) {
  if (shared_.passwords == nullptr) return SkipReason::kEncrypted;
  std::optional<EncryptedEntry> encrypted = ReadEncryptedEntry(shared_.archiveFd, entry);
  if (!encrypted) return SkipReason::kUnreadableData;
  MethodDecoder* decoder = decoders_.For(encrypted->content.method);
  std::vector<unsigned char> trailer(encrypted->scheme.TrailerSize());
  if (decoder == nullptr || !ReadFullyAt(shared_.archiveFd, reinterpret_cast<char*>(trailer.data()),
                                         trailer.size(), encrypted->trailerOffset)) {
    return SkipReason::kUnreadableData;
  }
  PasswordRequest whenNoneFits = PasswordRequest::kAnotherEntry;
  for (;;) {
    OpenedEntry opened = shared_.passwords->Open(*encrypted, planned.name, whenNoneFits);
    if (!opened.decryption) return opened.refused;
    EntryStream stream(shared_.archiveFd, encrypted->content, *decoder, input_);
    stream.Decrypt(*opened.decryption, trailer, encrypted->crcKnown);
    std::optional<SkipReason> reason = WriteStream(entry, planned, stream);
    if (!reason) shared_.passwords->Confirm(opened.password);
    bool contentFailed =
        (reason == SkipReason::kUnreadableData || reason == SkipReason::kTooLarge) && !Stopping();
    if (!contentFailed || !shared_.passwords->Refute(opened.password)) return reason;
    whenNoneFits = PasswordRequest::kWrong;
  }
}

}  // namespace

SharedExtraction::SharedExtraction(ExtractionSetup setup)
    : archiveFd(setup.archiveFd),
      directory(setup.directory),
      plan(setup.plan),
      destinationFd(setup.destinationFd),
      ranges(std::move(setup.ranges)),
      outcomes(ranges.size()),
      queue(ranges.size()),
      inMemoryLimit(setup.inMemoryLimit),
      readAheadSize(setup.readAheadSize),
      progress(setup.progress),
      passwords(setup.passwords),
      origin(DownloadOrigin::Read(setup.archiveFd)),
      cores_(setup.cores),
      working_(setup.workers) {
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    outcomes[k].notAttemptedFrom = ranges[k].begin;
  }
}

void RunWorker(SharedExtraction& shared, std::vector<FolderFinish>& folders) {
  Worker(shared, folders).Run();
}

}  // namespace zipdrop
