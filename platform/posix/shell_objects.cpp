#include "platform/posix/shell_objects.h"

#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <system_error>

#include "platform/posix/ascii_case.h"
#include "platform/posix/folder_removal.h"
#include "platform/posix/interrupts.h"
#include "platform/posix/program_search.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/ui/clash_question.h"
#include "platform/posix/ui/message_box.h"
#include "platform/posix/ui/password_prompt.h"
#include "platform/posix/ui/progress_display.h"
#include "platform/posix/ui/skip_report_dialog.h"
#include "zipdrop/extractor/extraction_progress.h"
#include "zipdrop/extractor/printable_name.h"
#include "zipdrop/extractor/zip_extractor.h"

namespace zipdrop {

namespace {

constexpr char kUnreadableArchiveTitle[] = "ZIP ファイルを開けません";
constexpr char kCopyFailedTitle[] = "展開できませんでした";

// The base of every object this platform hands out. Call gets the member name as given.
class ShellObject : public AutomationObject {
 public:
  virtual ShellResult Call(std::u16string_view member, const std::vector<Value>& arguments) = 0;
};

[[noreturn]] void ThrowNoMember(std::u16string_view member, const char* className) {
  throw PlatformError("object " + std::string(className) + " has no member " +
                      ToSystemBytes(member));
}

void ExpectArgumentCount(const std::vector<Value>& arguments, size_t least, size_t most,
                         std::u16string_view member) {
  if (arguments.size() < least || arguments.size() > most) {
    throw PlatformError("wrong number of arguments for " + ToSystemBytes(member));
  }
}

template <typename T>
const T& ArgumentOf(const std::vector<Value>& arguments, size_t index, std::u16string_view member) {
  const T* value = std::get_if<T>(&arguments[index]);
  if (value == nullptr) {
    throw PlatformError("argument " + std::to_string(index + 1) + " of " + ToSystemBytes(member) +
                        " has the wrong type");
  }
  return *value;
}

bool IsMember(std::u16string_view member, std::u16string_view name) {
  return EqualsIgnoringAsciiCase(member, name);
}

// A folder as the shell sees it: a real directory, or a ZIP archive shown as a folder.
// An archive is opened and read once, by Namespace, and its folder, its items and CopyHere share
// that reading.
struct FolderSource {
  std::string path;                           // Absolute, links resolved.
  std::shared_ptr<const ZipArchive> archive;  // Null for a directory.
};

// Whether every entry came out, some did not, or the archive was refused.
int StatusOf(const ExtractionReport& report) {
  if (report.refusal) return 2;
  for (const ExtractionReport::Skipped& skipped : report.skipped) {
    if (skipped.count > 0 || skipped.moreMayBeLost) return 1;
  }
  return 0;
}

}  // namespace

// The launcher and its icon are installed beside the program under these names.
NeverReplaced ProgramFiles(const std::optional<std::string>& program) {
  if (!program) return {.files = {}, .topFolder = true};
  NeverReplaced kept;
  std::string folder = FolderOf(*program);
  for (const std::string& path : {*program, folder + "/zipdrop.desktop", folder + "/zipdrop.png"}) {
    struct stat status;
    if (lstat(path.c_str(), &status) == 0) kept.files.push_back({status.st_dev, status.st_ino});
  }
  return kept;
}

namespace {

// Why a copy failed outright, in the user's words where the cause is known.
std::string DescribeCopyFailure(const FolderSource& archive, const std::exception& error) {
  if (!archive.archive) return "ZIP ファイルではなくフォルダです";
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "メモリが足りません";
  if (dynamic_cast<const std::system_error*>(&error) != nullptr) {
    return std::string("スレッドかメモリが足りません: ") + error.what();
  }
  return error.what();
}

// Tells the user why a copy failed outright, as the Windows shell tells of an archive it cannot
// read: in a dialog on the desktop, on standard error otherwise. No dialog program is run from
// untrustedFolder.
void TellCopyFailed(const std::string& archiveName, const std::string& reason,
                    const std::string& untrustedFolder) {
  std::string text =
      "「" + PrintableName(archiveName) + "」を展開できませんでした（" + reason + "）";
  if (!ShowDialog(text, kCopyFailedTitle, kIconStop, untrustedFolder)) {
    std::fprintf(stderr, "zipdrop: %s\n", PrintableName(text).c_str());
  }
}

class FolderItems : public ShellObject {
 public:
  explicit FolderItems(FolderSource source) : source_(std::move(source)) {}
  const FolderSource& Source() const { return source_; }
  ShellResult Call(std::u16string_view member, const std::vector<Value>&) override {
    ThrowNoMember(member, "FolderItems");
  }

 private:
  FolderSource source_;
};

class ShellFolder : public ShellObject {
 public:
  explicit ShellFolder(FolderSource source) : source_(std::move(source)) {}
  ShellResult Call(std::u16string_view member, const std::vector<Value>& arguments) override;

 private:
  int CopyHere(const ObjectRef& itemsObject) const;
  ExtractionReport Extract(const FolderSource& archive, const std::string& archiveName,
                           ExtractionProgress& progress, UserContact& user) const;
  FolderSource source_;
};

ShellResult ShellFolder::Call(std::u16string_view member, const std::vector<Value>& arguments) {
  if (IsMember(member, u"items")) {
    ExpectArgumentCount(arguments, 0, 0, member);
    return ShellResult(ObjectRef(std::make_shared<FolderItems>(source_)));
  }
  if (IsMember(member, u"CopyHere")) {
    ExpectArgumentCount(arguments, 1, 1, member);
    return {std::monostate(), CopyHere(ArgumentOf<ObjectRef>(arguments, 0, member))};
  }
  ThrowNoMember(member, "Folder");
}

// Only the one copy the program needs is supported: every item of an archive into a directory.
// A copy that fails outright (no archive to copy, no thread or memory to be had) fails the run,
// and the user is told why. Returns the copy's exit status.
int ShellFolder::CopyHere(const ObjectRef& itemsObject) const {
  auto* items = dynamic_cast<const FolderItems*>(itemsObject.get());
  if (items == nullptr) throw PlatformError("CopyHere needs the items of a folder");
  const std::string& archivePath = items->Source().path;
  std::string archiveName = archivePath.substr(archivePath.rfind('/') + 1);
  ExtractionProgress progress;
  UserContact user;
  ExtractionReport report;
  try {
    report = Extract(items->Source(), archiveName, progress, user);
  } catch (const std::exception& error) {
    TellCopyFailed(archiveName, DescribeCopyFailure(items->Source(), error), source_.path);
    throw CopyFailed(error.what(), 2);
  }
  // A cancelled copy fails as it does on Windows, and the user, who asked for it, gets no report.
  if (progress.Cancelled()) throw CopyFailed("the extraction was cancelled", 1);
  // Without a desktop or a terminal no one can be asked, and the encrypted files are left out.
  if (report.SkippedFor(SkipReason::kEncrypted) > 0 && !user.Reachable()) {
    std::fputs(
        "zipdrop: パスワードを尋ねることができないため、暗号化されたファイルは展開しません\n",
        stderr);
  }
  // A report that cannot be shown (standard error closed) does not change what the copy did.
  try {
    ReportSkipped(report, PrintableName(archiveName), source_.path);
  } catch (const std::exception& error) {
    throw CopyFailed(error.what(), StatusOf(report));
  }
  return StatusOf(report);
}

// Extracts with the progress shown. An interrupt stops the workers, whose temporary files go as
// they unwind; the process then ends by the signal as this returns, before anything is reported.
ExtractionReport ShellFolder::Extract(const FolderSource& archive, const std::string& archiveName,
                                      ExtractionProgress& progress, UserContact& user) const {
  if (source_.archive) throw PlatformError("cannot copy into a ZIP archive");
  if (!archive.archive) {
    throw PlatformError("copying the items of a directory is not supported on this platform");
  }
  InterruptsDeferred deferred;
  OnInterrupt stop([&progress] { progress.Cancel(); });
  UserPasswordPrompt passwords(archiveName, source_.path, user);
  UserClashQuestion clashes(archiveName, source_.path, user);
  ExtractionTuning tuning;
  tuning.progress = &progress;
  tuning.passwords = &passwords;
  tuning.clashes = &clashes;
  tuning.neverReplaced = ProgramFiles(CanonicalPath("/proc/self/exe"));
  // The destination has just received the archive's files, so no dialog program is run from it.
  ProgressDisplay display(progress, {archiveName, source_.path, &user});
  ExtractionReport report = ExtractZipArchive(*archive.archive, source_.path, tuning);
  // An interrupted run says nothing more: the display only clears its line as it goes.
  if (!Interrupted()) display.Finish(report.filesWritten);
  return report;
}

// A file that is there but is no readable archive is most likely a damaged download, and the
// Windows shell says so in a window of its own: a desktop user never sees standard error.
void ReportUnreadableArchive(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  std::string text = "「" + PrintableName(name) +
                     "」を開けません。\n\nファイルが壊れているか、ZIP ファイルではありません。" +
                     "\n\n場所: " + PrintableName(FolderOf(path));
  std::optional<std::string> program = CanonicalPath("/proc/self/exe");
  std::string programFolder = program ? FolderOf(*program) : FolderOf(path);
  if (!ShowDialog(text, kUnreadableArchiveTitle, kIconStop, programFolder)) {
    std::fprintf(stderr, "zipdrop: %s は ZIP ファイルとして読めません\n",
                 PrintableName(path).c_str());
  }
}

// Like the Windows shell, Namespace gives nothing (rather than an error) for a path that is
// neither a folder nor an archive it can read, and says nothing about a path that does not exist.
std::optional<FolderSource> OpenNamespace(const std::u16string& path) {
  std::optional<std::string> resolved = CanonicalPath(ToSystemBytes(path));
  if (!resolved) return std::nullopt;
  struct stat info;
  if (stat(resolved->c_str(), &info) != 0) return std::nullopt;
  if (S_ISDIR(info.st_mode)) return FolderSource{*resolved, nullptr};
  if (std::optional<ZipArchive> archive = OpenZipArchive(*resolved)) {
    return FolderSource{*resolved, std::make_shared<const ZipArchive>(std::move(*archive))};
  }
  if (S_ISREG(info.st_mode)) ReportUnreadableArchive(*resolved);
  return std::nullopt;
}

class ShellApplication : public ShellObject {
 public:
  // A path that gives no folder is an archive that cannot be read, or none at all.
  ShellResult Call(std::u16string_view member, const std::vector<Value>& arguments) override {
    if (!IsMember(member, u"Namespace")) ThrowNoMember(member, "Shell.Application");
    ExpectArgumentCount(arguments, 1, 1, member);
    std::optional<FolderSource> folder =
        OpenNamespace(ArgumentOf<std::u16string>(arguments, 0, member));
    if (!folder) return {std::monostate(), 2};
    return ShellResult(ObjectRef(std::make_shared<ShellFolder>(std::move(*folder))));
  }
};

class FileSystemObject : public ShellObject {
 public:
  // The force argument is optional, as it is on Windows, and false when left out.
  ShellResult Call(std::u16string_view member, const std::vector<Value>& arguments) override {
    if (!IsMember(member, u"DeleteFolder")) ThrowNoMember(member, "FileSystemObject");
    ExpectArgumentCount(arguments, 1, 2, member);
    const std::u16string& pattern = ArgumentOf<std::u16string>(arguments, 0, member);
    bool force = arguments.size() == 2 && ArgumentOf<bool>(arguments, 1, member);
    DeleteMatchingFolders(ToSystemBytes(pattern), force);
    return ShellResult(std::monostate());
  }
};

}  // namespace

ObjectRef CreateShellObject(const std::u16string& progId) {
  if (EqualsIgnoringAsciiCase(progId, u"Shell.Application")) {
    return std::make_shared<ShellApplication>();
  }
  if (EqualsIgnoringAsciiCase(progId, u"Scripting.FileSystemObject")) {
    return std::make_shared<FileSystemObject>();
  }
  throw PlatformError("no automation class is registered as " + ToSystemBytes(progId));
}

ShellResult CallShellMember(const ObjectRef& object, const std::u16string& member,
                            const std::vector<Value>& arguments) {
  if (!object) throw PlatformError("member " + ToSystemBytes(member) + " called on no object");
  auto* shellObject = dynamic_cast<ShellObject*>(object.get());
  if (shellObject == nullptr) throw PlatformError("object was not made by this platform");
  return shellObject->Call(member, arguments);
}

}  // namespace zipdrop
