// The one seam between zipdrop's logic and the operating system.
//
// The logic in app/ never touches the system directly: it asks for a message box, the argument
// text, the program folder, an environment variable, automation objects and a process launch
// through this interface. Windows serves it with MessageBoxW, COM and CreateProcessW; POSIX
// serves it with our own stand-ins for the shell's automation objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/message_icons.h"
#include "platform/platform_error.h"

namespace zipdrop {

/// A late-bound automation object. Its holder releases it by dropping the last reference.
class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
};

/// A reference to one automation object, or to none (a null pointer).
using ObjectRef = std::shared_ptr<AutomationObject>;

/// The values that cross CallMember: nothing, a string, a boolean or an object reference.
using Value = std::variant<std::monostate, std::u16string, bool, ObjectRef>;

/// Window-style code of a normal window that takes the focus.
inline constexpr int kNormalFocusedWindow = 1;

/// Every operation signals failure by throwing PlatformError; none reports it through its result.
/// All text is UTF-16; lengths and positions count UTF-16 code units.
class PlatformServices {
 public:
  virtual ~PlatformServices() = default;

  /// Shows a modal message box with the text, the title and a single OK button; icon code 48
  /// shows an exclamation mark, 16 a stop sign. Returns when the user closes it.
  virtual void ShowMessage(const std::u16string& text, const std::u16string& title,
                           int iconCode) = 0;

  /// The unparsed command-line text after the program's own name, quotes kept; empty when there
  /// are no arguments.
  virtual std::u16string ReadArgumentText() = 0;

  /// The directory that holds the program's executable file.
  virtual std::u16string ReadProgramFolder() = 0;

  /// The value of the environment variable, its name matched without regard to letter case;
  /// empty when it is not set.
  virtual std::u16string ReadEnvironment(const std::u16string& name) = 0;

  /// A new automation object of the class registered under the ProgID (matched without regard
  /// to letter case). Throws when no such class can be created.
  virtual ObjectRef CreateAutomationObject(const std::u16string& progId) = 0;

  /// Calls the named member (method or property read, name matched without regard to letter
  /// case) with the arguments in the order given. Throws when the object is missing, the member
  /// cannot be called, or the member itself reports an error.
  virtual Value CallMember(const ObjectRef& object, const std::u16string& member,
                           const std::vector<Value>& arguments) = 0;

  /// Starts a process from a full command line without waiting for it; returns its task
  /// identifier. Throws when the program cannot be started.
  virtual std::int64_t LaunchCommandLine(const std::u16string& commandLine, int windowStyle) = 0;

  /// The separator this platform writes between path components: '\' on Windows, '/' on POSIX.
  virtual char16_t PathSeparator() const = 0;
};

}  // namespace zipdrop
