// PlatformServices on Win32 and COM.
#pragma once

#include "platform/platform_services.h"
#include "platform/windows/shell_process_reference.h"

namespace zipdrop {

/// Stops the process from ever loading a DLL from the program's folder or the current folder.
/// zipdrop's folder is where untrusted archives are unpacked, and COM and the shell load more
/// DLLs on demand while the run goes on. Call it first thing, before any other work.
void RestrictDllSearchToSystem();

/// Keeps COM initialised, single-threaded apartment, for as long as it lives.
class ComApartment {
 public:
  ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment();
};

class WindowsPlatform : public PlatformServices {
 public:
  void ShowMessage(const std::u16string& text, const std::u16string& title, int iconCode) override;
  std::u16string ReadArgumentText() override;
  std::u16string ReadProgramFolder() override;
  std::u16string ReadEnvironment(const std::u16string& name) override;
  ObjectRef CreateAutomationObject(const std::u16string& progId) override;
  /// After "CopyHere", returns only when the shell holds no more references to the process than
  /// just before the call, so that nothing after it runs while the shell is still copying on a
  /// thread of its own.
  Value CallMember(const ObjectRef& object, const std::u16string& member,
                   const std::vector<Value>& arguments) override;
  /// Starts the folder handler only for an existing folder, in the system folder, and with a path
  /// that the handler takes as it is, else its short form (see LaunchProcess).
  std::int64_t LaunchCommandLine(const std::u16string& commandLine, int windowStyle) override;
  char16_t PathSeparator() const override { return u'\\'; }

 private:
  // Declared first so that COM is up before anything else and goes down after everything else.
  ComApartment apartment_;
  // Destroyed before COM ends, after the shell has let go of the process.
  ShellProcessReference shellReference_;
};

}  // namespace zipdrop
