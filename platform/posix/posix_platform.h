// PlatformServices on Linux and other POSIX systems: our own stand-ins for the Windows services,
// with the effects the logic relies on.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform_services.h"
#include "platform/posix/program_search.h"
#include "platform/posix/shell_objects.h"

namespace zipdrop {

class PosixPlatform : public PlatformServices {
 public:
  PosixPlatform(int argc, char** argv);

  void ShowMessage(const std::u16string& text, const std::u16string& title, int iconCode) override;
  std::u16string ReadArgumentText() override;
  std::u16string ReadProgramFolder() override;
  std::u16string ReadEnvironment(const std::u16string& name) override;
  ObjectRef CreateAutomationObject(const std::u16string& progId) override;
  Value CallMember(const ObjectRef& object, const std::u16string& member,
                   const std::vector<Value>& arguments) override;
  std::int64_t LaunchCommandLine(const std::u16string& commandLine, int windowStyle) override;
  char16_t PathSeparator() const override { return u'/'; }

  /// The exit status the copies made tell, once the run has returned: 0 when every entry was
  /// extracted (or nothing was copied), 1 when some entries were not, 2 when the archive was
  /// refused or could not be read, or the copy could not be made at all. Only ever raised, so one
  /// bad step is not hidden by a later good one.
  int CopyExitStatus() const { return copyStatus_; }

 private:
  // The executable's folder, found on first use and kept: the working directory may change.
  const std::string& ProgramFolderBytes();
  // Chooses the desktop's opener once, at the first call: before anything is extracted.
  void ChooseOpener();

  std::string programName_;             // argv[0], for systems without /proc/self/exe.
  std::vector<std::string> arguments_;  // argv[1..], as the bytes the system gave.
  std::string programFolder_;
  int copyStatus_ = 0;
  bool openerChosen_ = false;
  std::optional<ChosenProgram> opener_;
};

}  // namespace zipdrop
