// PlatformServices on Linux and other POSIX systems: our own stand-ins for the Windows services,
// with the effects the logic relies on.
#pragma once

#include <string>
#include <vector>

#include "platform/platform_services.h"

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

 private:
  // The executable's folder, found on first use and kept: the working directory may change.
  const std::string& ProgramFolderBytes();

  std::string programName_;             // argv[0], for systems without /proc/self/exe.
  std::vector<std::string> arguments_;  // argv[1..], as the bytes the system gave.
  std::string programFolder_;
};

}  // namespace zipdrop
