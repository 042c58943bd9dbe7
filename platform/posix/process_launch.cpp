#include "platform/posix/process_launch.h"

#include <sys/stat.h>

#include <vector>

#include "platform/platform_error.h"
#include "platform/posix/ascii_case.h"
#include "platform/posix/command_line.h"
#include "platform/posix/process_spawn.h"
#include "platform/posix/program_search.h"
#include "platform/posix/text_encoding.h"

namespace zipdrop {

namespace {

constexpr const char* kDesktopOpener = "xdg-open";

constexpr std::u16string_view kHandlerPrograms[] = {u"rundll32.exe ", u"rundll32 "};
constexpr std::u16string_view kHandlerEntryPoint = u"url.dll, FileProtocolHandler ";

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::string LocateProgram(const std::string& name, const std::string& programFolder) {
  if (name.find('/') != std::string::npos) return name;
  std::optional<std::string> found = FindTrustedProgram(name, programFolder);
  if (!found) throw PlatformError("program not found on PATH: " + name);
  return *found;
}

// The line only ever asks for the folder the extraction produced. Anything else (a file that
// the archive just delivered, above all) could be a program or a document that runs code. A
// path that does not exist at all is still handed on, as on Windows: the opener then tells the
// user it is missing.
std::string CheckedFolder(const std::u16string& target) {
  std::string folder = ToSystemBytes(target);
  if (folder.empty()) throw PlatformError("no folder to open");
  struct stat info;
  bool present = lstat(folder.c_str(), &info) == 0;
  if (present && (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) {
    throw PlatformError("refusing to open something that is not a folder: " + folder);
  }
  // A relative name that starts with '-' would reach the opener as an option.
  return folder[0] == '/' ? folder : "./" + folder;
}

}  // namespace

std::optional<std::u16string> HandlerTarget(std::u16string_view commandLine) {
  for (std::u16string_view program : kHandlerPrograms) {
    if (!StartsWithIgnoringCase(commandLine, program)) continue;
    std::u16string_view rest = commandLine.substr(program.size());
    if (!StartsWithIgnoringCase(rest, kHandlerEntryPoint)) return std::nullopt;
    return std::u16string(rest.substr(kHandlerEntryPoint.size()));
  }
  return std::nullopt;
}

std::optional<ChosenProgram> ChooseDesktopOpener(const std::string& programFolder) {
  return ChooseTrustedProgram(kDesktopOpener, programFolder);
}

std::int64_t LaunchCommandLine(std::u16string_view commandLine, const std::string& programFolder,
                               const std::optional<ChosenProgram>& opener) {
  if (std::optional<std::u16string> target = HandlerTarget(commandLine)) {
    std::vector<std::string> arguments = {kDesktopOpener, CheckedFolder(*target)};
    if (!opener) throw PlatformError(std::string("program not found on PATH: ") + kDesktopOpener);
    // The opener was chosen before the extraction; a file put in its place since then is not it.
    if (!IsStillChosenFile(*opener)) throw PlatformError("the opener was replaced: " + opener->path);
    return SpawnProgram(opener->path, arguments, SpawnMode::kDetached);
  }
  std::vector<std::string> arguments;
  for (const std::u16string& argument : SplitCommandLine(commandLine)) {
    arguments.push_back(ToSystemBytes(argument));
  }
  if (arguments.empty() || arguments[0].empty()) throw PlatformError("empty command line");
  std::string program = LocateProgram(arguments[0], programFolder);
  return SpawnProgram(program, arguments, SpawnMode::kDetached);
}

}  // namespace zipdrop
