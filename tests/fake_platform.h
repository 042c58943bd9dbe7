// A PlatformServices that records every call and can be told to fail any of them, so the
// logic's tests can assert the exact sequence of platform calls.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform_services.h"

namespace zipdrop {

class FakePlatform : public PlatformServices {
 public:
  // Answers of the fake system. Paths in missingPaths give no folder object from "Namespace".
  std::u16string argumentText;
  std::u16string programFolder = u"D:\\tools";
  std::map<std::u16string, std::u16string> environment = {{u"TEMP", u"C:\\Users\\u\\AppData\\Local\\Temp"}};
  std::set<std::u16string> missingPaths;
  char16_t separator = u'\\';

  // When set, the call with this index (counting from 0 over every recorded call) throws.
  int failCallIndex = -1;
  // Every call whose record starts with one of these texts throws.
  std::vector<std::string> failWhenStartsWith;

  // One line per call, e.g. `CallMember(shell, Namespace, "C:\data\photos.zip")`.
  std::vector<std::string> calls;
  // The messages shown, as `title|text|icon`.
  std::vector<std::string> messages;
  // The command lines launched.
  std::vector<std::string> launches;

  void ShowMessage(const std::u16string& text, const std::u16string& title, int iconCode) override;
  std::u16string ReadArgumentText() override;
  std::u16string ReadProgramFolder() override;
  std::u16string ReadEnvironment(const std::u16string& name) override;
  ObjectRef CreateAutomationObject(const std::u16string& progId) override;
  Value CallMember(const ObjectRef& object, const std::u16string& member,
                   const std::vector<Value>& arguments) override;
  std::int64_t LaunchCommandLine(const std::u16string& commandLine, int windowStyle) override;
  char16_t PathSeparator() const override { return separator; }

 private:
  // Records the call and throws when it was told to fail it.
  void Record(const std::string& call);
};

/// UTF-16 to UTF-8 for readable assertions.
std::string Utf8(const std::u16string& text);

}  // namespace zipdrop
