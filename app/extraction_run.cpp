#include "app/extraction_run.h"

#include <optional>
#include <vector>

namespace zipdrop {

namespace {

const std::u16string kNotZipText = u"Zipファイルではありません";
const std::u16string kNotZipTitle = u"エラー";
const std::u16string kAcceptedExtension = u"ZIP";
const std::u16string kShellProgId = u"Shell.Application";
const std::u16string kFileSystemProgId = u"scripting.filesystemobject";
const std::u16string kTempVariable = u"Temp";
const std::u16string kShellTempFolderPattern = u"Temporary Directory*";
const std::u16string kHandlerCommandPrefix = u"RunDll32.exe url.dll, FileProtocolHandler ";

using NameParts = std::vector<std::u16string>;

// Everything the run holds across its steps. It is released when the run returns, on every path.
struct RunState {
  char16_t separator = u'\\';
  std::u16string archivePath;
  std::optional<NameParts> nameParts;  // No array at all until the first split.
  std::u16string archiveExtension;
  std::u16string nameStem;
  std::u16string resultFolder;
  ObjectRef shell;
  ObjectRef fileSystem;
};

// One step of the run. A step that fails is abandoned without a word and the run goes on:
// the user asked for an extraction, and a half-done one is still worth its clean-up and folder.
template <typename Step>
bool Attempt(Step&& step) {
  try {
    step();
    return true;
  } catch (...) {
    return false;
  }
}

// Windows accepts '/' between path components as well as its own '\'; POSIX has only '/'.
bool IsPathSeparator(char16_t c, char16_t platformSeparator) {
  return c == platformSeparator || c == u'/';
}

template <typename IsCut>
NameParts SplitAt(const std::u16string& text, IsCut isCut) {
  NameParts parts;
  if (text.empty()) return parts;
  std::u16string piece;
  for (char16_t c : text) {
    if (isCut(c)) {
      parts.push_back(std::move(piece));
      piece.clear();
    } else {
      piece.push_back(c);
    }
  }
  parts.push_back(std::move(piece));
  return parts;
}

// Only a to z are mapped, so the result never depends on the user's locale.
std::u16string UpperCased(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return text;
}

// The stem ends at the first dot of the file name itself. Cutting at the first dot of the whole
// path would let a dot in any folder name (john.smith, .cache) pick the wrong result folder.
std::u16string StemOf(const std::u16string& path, char16_t separator) {
  size_t nameStart = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsPathSeparator(path[i], separator)) nameStart = i + 1;
  }
  size_t dot = path.find(u'.', nameStart);
  return dot == std::u16string::npos ? path : path.substr(0, dot);
}

// A relative or empty temporary directory would point the clean-up at whatever folder the
// program was started in, so only an absolute one is accepted.
bool IsAbsolutePath(const std::u16string& path, char16_t separator) {
  if (separator == u'/') return !path.empty() && path[0] == u'/';
  bool driveRooted = path.size() >= 3 && path[1] == u':' &&
                     ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
                     IsPathSeparator(path[2], separator);
  bool uncPath = path.size() >= 3 && IsPathSeparator(path[0], separator) &&
                 IsPathSeparator(path[1], separator);
  return driveRooted || uncPath;
}

void ShowNotZipMessage(PlatformServices& platform) {
  platform.ShowMessage(kNotZipText, kNotZipTitle, kIconStop);
}

void StripQuotes(RunState& run) {
  if (run.archivePath.size() < 2) throw PlatformError("text too short to strip");
  run.archivePath = run.archivePath.substr(1, run.archivePath.size() - 2);
}

void ReadName(RunState& run) {
  const NameParts& parts = run.nameParts.value();
  run.archiveExtension = UpperCased(parts.back());
  run.nameStem = StemOf(run.archivePath, run.separator);
  run.resultFolder = run.nameStem;
}

void CopyArchiveItems(PlatformServices& platform, const RunState& run) {
  std::u16string programFolder = platform.ReadProgramFolder();
  Value source = platform.CallMember(run.shell, u"Namespace", {run.archivePath});
  Value items = platform.CallMember(std::get<ObjectRef>(source), u"items", {});
  Value destination = platform.CallMember(run.shell, u"Namespace", {programFolder});
  platform.CallMember(std::get<ObjectRef>(destination), u"CopyHere", {items});
}

void RemoveShellTemporaryFolders(PlatformServices& platform, const RunState& run) {
  std::u16string tempFolder = platform.ReadEnvironment(kTempVariable);
  if (!IsAbsolutePath(tempFolder, run.separator)) {
    throw PlatformError("no absolute temporary directory");
  }
  std::u16string pattern = tempFolder + run.separator + kShellTempFolderPattern;
  platform.CallMember(run.fileSystem, u"deletefolder", {pattern, true});
}

void BuildResultFolder(PlatformServices& platform, RunState& run) {
  if (!run.nameParts || run.nameParts->empty()) throw PlatformError("no name to open");
  std::u16string folder = platform.ReadProgramFolder() + run.separator + run.nameParts->back();
  run.resultFolder = std::move(folder);
}

}  // namespace

RunOutcome ExtractDroppedArchive(PlatformServices& platform, std::u16string argumentText) {
  RunState run;
  run.archivePath = std::move(argumentText);
  Attempt([&] { run.separator = platform.PathSeparator(); });

  if (run.archivePath.find(u'"') != std::u16string::npos) {
    Attempt([&] { StripQuotes(run); });
  }
  Attempt([&] { run.nameParts = SplitAt(run.archivePath, [](char16_t c) { return c == u'.'; }); });

  bool hasName = false;
  if (!Attempt([&] { hasName = !run.nameParts.value().empty(); }) || !hasName) {
    Attempt([&] { ShowNotZipMessage(platform); });
    return RunOutcome::kNameRejected;
  }
  Attempt([&] { ReadName(run); });

  if (run.archiveExtension != kAcceptedExtension) {
    Attempt([&] { ShowNotZipMessage(platform); });
    return RunOutcome::kNameRejected;
  }
  Attempt([&] { run.shell = platform.CreateAutomationObject(kShellProgId); });
  Attempt([&] { CopyArchiveItems(platform, run); });
  Attempt([&] { run.fileSystem = platform.CreateAutomationObject(kFileSystemProgId); });
  Attempt([&] { RemoveShellTemporaryFolders(platform, run); });
  Attempt([&] {
    run.nameParts =
        SplitAt(run.nameStem, [&](char16_t c) { return IsPathSeparator(c, run.separator); });
  });
  Attempt([&] { BuildResultFolder(platform, run); });
  Attempt([&] { OpenWithHandler(platform, run.resultFolder, kNormalFocusedWindow); });
  return RunOutcome::kFinished;
}

void OpenWithHandler(PlatformServices& platform, const std::u16string& path, int windowStyle) {
  platform.LaunchCommandLine(kHandlerCommandPrefix + path, windowStyle);
}

}  // namespace zipdrop
