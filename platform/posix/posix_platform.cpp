#include "platform/posix/posix_platform.h"

#include <algorithm>
#include <string_view>

#include "platform/posix/ascii_case.h"
#include "platform/posix/process_launch.h"
#include "platform/posix/program_search.h"
#include "platform/posix/shell_objects.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/ui/message_box.h"

extern char** environ;

namespace zipdrop {

namespace {

// Windows hands a program its command line as one text, and the logic strips one pair of
// quotes from it. Quoting every argument that needs it, and only those, rebuilds the text that
// Explorer passes for a dropped file, so a single path comes back exactly, blanks and all.
void AppendArgument(std::u16string& text, std::string_view argument) {
  if (!text.empty()) text.push_back(u' ');
  bool needsQuotes = argument.find_first_of(" \t\"") != std::string_view::npos;
  if (needsQuotes) text.push_back(u'"');
  text += FromSystemBytes(argument);
  if (needsQuotes) text.push_back(u'"');
}

}  // namespace

PosixPlatform::PosixPlatform(int argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr) programName_ = argv[0];
  for (int i = 1; i < argc; ++i) arguments_.emplace_back(argv[i]);
}

void PosixPlatform::ShowMessage(const std::u16string& text, const std::u16string& title,
                                int iconCode) {
  ShowMessageBox(text, title, iconCode, ProgramFolderBytes());
}

std::u16string PosixPlatform::ReadArgumentText() {
  std::u16string text;
  for (const std::string& argument : arguments_) AppendArgument(text, argument);
  return text;
}

std::u16string PosixPlatform::ReadProgramFolder() {
  return FromSystemBytes(ProgramFolderBytes());
}

// Environment names are case-sensitive on POSIX, so "Temp" and "TEMP" may both be set. The
// first entry of environ that matches wins, which makes the answer at least repeatable.
std::u16string PosixPlatform::ReadEnvironment(const std::u16string& name) {
  std::string wanted = ToSystemBytes(name);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view variable = *entry;
    size_t equals = variable.find('=');
    if (equals == std::string_view::npos) continue;
    if (EqualsIgnoringAsciiCase(variable.substr(0, equals), wanted)) {
      return FromSystemBytes(variable.substr(equals + 1));
    }
  }
  return std::u16string();
}

ObjectRef PosixPlatform::CreateAutomationObject(const std::u16string& progId) {
  // Every copy goes through an automation object, so the opener is settled before one exists.
  ChooseOpener();
  return CreateShellObject(progId);
}

// A copy, or the opening of an archive, tells how it went in its result, or in the error it
// throws.
Value PosixPlatform::CallMember(const ObjectRef& object, const std::u16string& member,
                                const std::vector<Value>& arguments) {
  try {
    ShellResult result = CallShellMember(object, member, arguments);
    copyStatus_ = std::max(copyStatus_, result.copyStatus);
    return std::move(result.value);
  } catch (const CopyFailed& failed) {
    copyStatus_ = std::max(copyStatus_, failed.status);
    throw;
  }
}

// The window style asks Windows how to show the new program's first window. POSIX has no
// such request; the desktop's opener decides how its window appears.
std::int64_t PosixPlatform::LaunchCommandLine(const std::u16string& commandLine, int) {
  ChooseOpener();
  return zipdrop::LaunchCommandLine(commandLine, ProgramFolderBytes(), opener_);
}

void PosixPlatform::ChooseOpener() {
  if (openerChosen_) return;
  openerChosen_ = true;
  try {
    opener_ = ChooseDesktopOpener(ProgramFolderBytes());
  } catch (const PlatformError&) {
    // Without a program folder there is nothing to open either; the launch then fails.
  }
}

const std::string& PosixPlatform::ProgramFolderBytes() {
  if (programFolder_.empty()) programFolder_ = ExecutableFolder(programName_);
  return programFolder_;
}

}  // namespace zipdrop
