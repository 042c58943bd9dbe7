#include "platform/windows/command_line.h"

namespace zipdrop {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

CommandLineParts SplitCommandLine(std::wstring_view commandLine) {
  CommandLineParts parts;
  size_t rest = 0;
  if (!commandLine.empty() && commandLine.front() == L'"') {
    size_t closing = commandLine.find(L'"', 1);
    size_t end = closing == std::wstring_view::npos ? commandLine.size() : closing;
    parts.program = commandLine.substr(1, end - 1);
    rest = closing == std::wstring_view::npos ? commandLine.size() : closing + 1;
  } else {
    size_t end = 0;
    while (end < commandLine.size() && !IsBlank(commandLine[end])) ++end;
    parts.program = commandLine.substr(0, end);
    rest = end;
  }
  while (rest < commandLine.size() && IsBlank(commandLine[rest])) ++rest;
  parts.arguments = commandLine.substr(rest);
  return parts;
}

}  // namespace zipdrop
