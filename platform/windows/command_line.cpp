#include "platform/windows/command_line.h"

#include <windows.h>

namespace zipdrop {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool StartsWithModulePath(std::wstring_view commandLine, std::wstring_view modulePath) {
  if (modulePath.empty() || commandLine.size() < modulePath.size()) return false;
  if (!SameIgnoringCase(commandLine.substr(0, modulePath.size()), modulePath)) return false;
  return commandLine.size() == modulePath.size() || IsBlank(commandLine[modulePath.size()]);
}

}  // namespace

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

CommandLineParts SplitCommandLine(std::wstring_view commandLine, std::wstring_view modulePath) {
  CommandLineParts parts;
  size_t rest = 0;
  if (StartsWithModulePath(commandLine, modulePath)) {
    parts.program = commandLine.substr(0, modulePath.size());
    rest = modulePath.size();
  } else {
    bool quoted = false;
    for (; rest < commandLine.size() && (quoted || !IsBlank(commandLine[rest])); ++rest) {
      if (commandLine[rest] == L'"') {
        quoted = !quoted;
      } else {
        parts.program.push_back(commandLine[rest]);
      }
    }
  }
  while (rest < commandLine.size() && IsBlank(commandLine[rest])) ++rest;
  parts.arguments = commandLine.substr(rest);
  return parts;
}

}  // namespace zipdrop
