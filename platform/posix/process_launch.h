// LaunchCommandLine on POSIX: a Windows command line, started without a shell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/program_search.h"

namespace zipdrop {

/// The path that a line "RunDll32.exe url.dll, FileProtocolHandler <path>" asks the desktop to
/// open, taken verbatim (blanks and quotes included); nothing when the line is of another kind.
/// The program name is matched without regard to case, with or without ".exe", as Windows finds
/// RunDll32 either way.
std::optional<std::u16string> HandlerTarget(std::u16string_view commandLine);

/// The desktop's opener, looked up on PATH as FindTrustedProgram does. The platform chooses it
/// before anything is extracted, so that nothing an archive delivers can be chosen.
std::optional<ChosenProgram> ChooseDesktopOpener(const std::string& programFolder);

/// Starts the command line detached and returns the process id. A FileProtocolHandler line
/// opens its folder with the opener chosen earlier, provided its file is still the one chosen;
/// any other line starts the program it names with its arguments split by the Windows rules,
/// looked up (when named without a folder) as FindTrustedProgram does. Throws PlatformError when
/// the line names nothing that can be started.
std::int64_t LaunchCommandLine(std::u16string_view commandLine, const std::string& programFolder,
                               const std::optional<ChosenProgram>& opener);

}  // namespace zipdrop
